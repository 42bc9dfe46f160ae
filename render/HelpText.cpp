#include "render/HelpText.h"

#include "processor/Parameters.h"

#include <cmath>

namespace
{
// The text, with the knobs' ranges, defaults and document mappings left to fill in from the
// knobs' table: "{gain}" becomes "0..60 dB (default 0)", "{Gain=}" becomes "Gain = dB/60".
const char* const text =
    R"(orvalis-render - limit an ambisonic or multichannel recording with Orvalis

Usage:
  orvalis-render INPUT OUTPUT [options]
  orvalis-render --out-dir DIR INPUT... [options]
  orvalis-render --demo OUTPUT [options]
  orvalis-render --merge-reports OUT.json|OUT.csv IN.json...

Runs the Orvalis look-ahead limiter - the very processor of the plug-in - over a whole
file. One gain acts on all channels, so limiting lowers the whole sound field
without moving the sources in it.

INPUT   a WAV (WAVE_FORMAT_EXTENSIBLE too), AIFF or FLAC file of 1 to 64 channels
        (FLAC carries at most 8) at any sample rate up to 192000 Hz; the output has
        as many. (n+1)^2 channels - 1, 4, 9, 16, 25, 36, 49, 64 - are ambisonics of
        order n (ACN order, W first; SN3D, N3D or FuMa: the limiter treats all alike);
        other counts are multichannel audio, limited just as well with one gain. It
        is read block by block, so files of any length work in little memory.
OUTPUT  written at the input's sample rate with the input's length. The audio goes to
        a hidden temporary file in OUTPUT's folder, renamed to OUTPUT only when it is
        complete; an existing OUTPUT is replaced. OUTPUT must not be INPUT.

An input is read for what it holds, not for what its header claims: a WAV data size of
0 or 0xFFFFFFFF (left by a recorder that lost power) or one beyond the end of the file
means "to the end of the file", an AIFF likewise, and a FLAC file is decoded until the
decoder stops. An input holding less than its header promises is rendered as far as it
goes and reported as truncated (exit status 3); nothing is invented.

Batch form:
  --out-dir DIR    render every INPUT into DIR: files, and folders searched recursively
                   for WAV, AIFF and FLAC files (hidden files and DIR itself left out).
                   An output keeps its input's name and its folder below the folder given,
                   and its format: WAV becomes 32-bit float WAV, FLAC 24-bit FLAC, AIFF
                   24-bit AIFF, unless --format says otherwise (which sets the extension).
                   Files without 1 to 64 channels (or above 192000 Hz) are skipped,
                   files that cannot be read fail; either way the rest go on. No output may
                   replace an input, and no two inputs may share an output.
  -j N, --jobs N   N workers, each rendering one file at a time with its own processor
                   (default: one per core this process may use)
  --plot DIR       with --out-dir, the pictures go to DIR, as OUTPUT.png below it
  --shard K/N      render only the K-th of N shares of the inputs (K = 1..N), for running
                   one batch on N machines or as N jobs of a cluster: every machine given
                   the same inputs makes the same shares (balanced by the files' sizes),
                   each input is in exactly one, and each output is bit for bit what one
                   unsharded batch writes. The batch's checks are made on all its inputs.
                   A shard that gets no file ends with status 0.
  --merge-reports OUT IN...
                   join the JSON reports of the N shards (or of whole batches made with the
                   same settings) into OUT (.json or .csv), as one batch would have written
                   it, with the summary worked out again. Reports of different settings,
                   shards of different batches, a shard missing or given twice, and
                   reports that share an input are refused (exit status 2); otherwise the
                   exit status is the merged batch's.
On a terminal one progress line shows files done, audio done, the speed and the time
left; otherwise a plain progress line every 10 s. A line per file as it finishes, then a
summary. Ctrl-C stops at once: finished outputs stay, unfinished ones are removed.

Report and delivery checks (both forms):
  --report FILE    write a report of every file: FILE.json (schema in README.md) or
                   FILE.csv (a row per file, a last row for the batch); may be given once
                   for each. Written to a temporary file and renamed when complete.
  --target-true-peak DB
                   fail the run (exit status 4) for every output whose true peak on any
                   channel is above DB dBTP (-60..+20); the outputs stay in place
  --target-loudness LUFS
                   bring each output's integrated loudness of W to LUFS (-60..0) within
                   0.1 LU, the ceiling held: the input's loudness is measured, then trial
                   renders through the limiter correct the gain until the output lands
                   there (limiting lowers the loudness), and the file is written at that
                   gain. Louder inputs are attenuated by the renderer before the processor
                   (at most 40 dB); quieter ones get the processor's input gain (at most
                   60 dB). Replaces --gain. A target that cannot be met (silence, more
                   than those gains, or a limiter that holds the output below it) is
                   reported per file as off-target (exit status 5); the output is written
                   at the closest gain found.
  --convention C   ambix (the default) or fuma: the loudness of ambisonics is that of W,
                   channel 1, as ambiX's W; FuMa's W is 3 dB lower, so with fuma it is
                   raised by 3.01 dB. Other counts are measured over their channels where
                   the file's channel mask names their speakers (the LFE left out), else
                   not at all, and --target-loudness skips them
  --input-loudness also measure the input's loudness (the output's always is); costs
                   about a tenth of the speed

Limiter settings (the plug-in's four knobs, in their units):
  --gain DB        input gain, {gain}
  --attack MS      attack time, which is the look-ahead, {attack}
  --release MS     release time, {release}
  --ceiling DB     max peak level, {ceiling}; dBTP with --true-peak
  --true-peak      limit true peaks, as the plug-in's "Peak: True peak" choice: the
                   detector looks between the samples (8x oversampled), so the output's
                   true peak stays at the ceiling; the latency grows by 139 samples
  --sample-peak    limit sample peaks (the default), also when the settings document
                   chooses true peaks
  --settings FILE  a settings document as the plug-in saves it, for example
                     <Root><Gain>0.1</Gain><Attack>0.025</Attack><Release>0.02</Release>
                     <Threshold>0.45</Threshold><idxInputConfig>0</idxInputConfig></Root>
                   Its values are the knobs' positions 0..1: {Gain=}, {Attack=},
                   {Release=}, {Threshold=}; a last element
                   <TruePeak>1</TruePeak> chooses true-peak limiting. Tags are matched
                   ignoring case; missing elements keep the defaults. --gain, --attack,
                   --release, --ceiling, --true-peak and --sample-peak given as well
                   override the document.

Processing:
  --block N        frames per processing block, 1..8192 (default 512); the output does
                   not depend on it, except while the input gain glides at the start
                   (use --settled for output that never depends on it)
  --settled        start settled, as an instance that has been running for a while:
                   before the file, run 65536 frames of silence through the processor and
                   prepare it afresh, so that the input gain starts at its setting instead
                   of gliding up from 0 dB, and the release at its setting instead of the
                   slower settling release that follows a change of look-ahead
  --raw            write the output as the processor produces it: delayed by the
                   latency (the look-ahead; 139 samples more with --true-peak), so the
                   input's last latency frames are not heard. By default the output
                   is aligned: the input is followed by latency frames of silence and
                   the first latency frames of output are dropped, so output frame n
                   belongs to input frame n.

Output:
  --format F       wav32 (32-bit float WAV, the default), wav24 (24-bit PCM WAV) or
                   flac (24-bit FLAC). Without --format an OUTPUT ending in .flac is
                   written as FLAC. 24-bit output cannot hold samples above 0 dBFS: they
                   are clipped and counted in a warning (keep the ceiling at or below 0 dB).
  --plot PNG       also draw the input and output peak envelopes and the gain
                   reduction over time into a PNG picture

Demo:
  --demo           render the built-in scene instead of INPUT: 8 seconds at 48 kHz of
                   first-order ambisonics (ambiX: ACN order, SN3D) with four percussive
                   sources circling the listener, peaks up to about +9 dBFS; the same on
                   every run

  -h, --help       show this text
  --version        show the version

When done, a summary shows per channel (above four channels of ambisonics: per order,
the largest of the order's channels) the input and output sample peaks (dBFS) and
true peaks (dBTP): 4x oversampled through a 48-tap polyphase interpolator with the
structure of ITU-R BS.1770-4 (its coefficients are a Kaiser-windowed sinc designed
here, not the standard's table; flat within 0.1 dB up to 3/4 of the Nyquist
frequency; a true peak is never shown below its sample peak). It also shows the
largest gain reduction - the input peak after the input gain over the output peak, in
10 ms windows - the share of the frames during which the limiter held the output more
than 0.001 dB below the input after gain, the integrated loudness and loudness range
(of W, or of the channels; ITU-R BS.1770-4 / EBU Tech 3342, gated exactly), the latency
in samples and the speed as a multiple of real time. A progress bar appears on a
terminal for inputs longer than 5 seconds.

The processor is driven as a host drives the plug-in: the four settings are set (input
gain, attack, release, max peak level), the processor is prepared for the file's rate
and block size, and the file is processed block by block. So, as in a host, the input
gain glides up from 0 dB over the first milliseconds, and after a look-ahead change the
release runs slower for a while; --settled avoids both. Input samples that are not finite numbers (NaN,
infinity) are replaced by silence, with a warning.

Exit status: 0 done; 1 a file could not be read or written (in the batch form: any
file, or none could be rendered); 2 bad command line; 3 an input was truncated
(its output holds what the file held); 4 an output is above --target-true-peak; 5 an
output misses --target-loudness; 130 or 143 interrupted (Ctrl-C, SIGTERM): unfinished
outputs are removed and what was there before is left as it was. When several apply,
the first of 1, 4, 5, 3 is given.

Examples:
  orvalis-render --demo out/demo.wav --plot out/demo.png
  orvalis-render concert.wav concert-limited.wav --gain 6 --ceiling -1
  orvalis-render take3.flac take3-limited.flac --format flac --attack 5 --release 200
  orvalis-render --out-dir limited/ day1/ day2/ --ceiling -1 --report limited/report.json
  orvalis-render --out-dir limited/ takes/ --target-loudness -23 --true-peak --ceiling -1
  orvalis-render --out-dir limited/ takes/ --shard 2/8 --report reports/2.json
  orvalis-render --merge-reports limited/report.csv reports/*.json
)";

juce::String number (float value)
{
    return value == std::floor (value) ? juce::String (static_cast<int> (value))
                                       : juce::String (value);
}

/** "Threshold = (dB+10)/20": how a document's value follows from the knob's. */
juce::String documentMapping (const parameters::Knob& knob)
{
    const juce::String span = number (knob.maximum - knob.minimum);
    const juce::String unit (knob.unit);
    const juce::String value = knob.minimum == 0.0f ? unit
                               : knob.minimum < 0.0f
                                   ? "(" + unit + "+" + number (-knob.minimum) + ")"
                                   : "(" + unit + "-" + number (knob.minimum) + ")";
    return juce::String (knob.stateTag) + " = " + value + "/" + span;
}
} // namespace

juce::String helpText()
{
    juce::String help (text);
    for (const auto& knob : parameters::knobs)
    {
        const auto option = juce::String (knob.option).substring (2);
        help = help.replace ("{" + option + "}",
                             juce::String (knob.rangeText) + " (default "
                                 + number (knob.defaultValue) + ")")
                   .replace ("{" + juce::String (knob.stateTag) + "=}", documentMapping (knob));
    }
    return help;
}
