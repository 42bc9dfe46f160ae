#include "tools/truepeak/CorpusSignals.h"

#include "render/BesselI0.h"
#include "render/DemoSceneReader.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace corpusSignals
{
namespace
{
    constexpr double twoPi = 6.283185307179586;

    size_t framesFor (int rate, double seconds)
    {
        return static_cast<size_t> (rate * seconds);
    }

    Signal silence (size_t frames)
    {
        Signal s;
        for (auto& ch : s)
            ch.assign (frames, 0.0f);
        return s;
    }

    // Scales the signal so that its largest sample is `peak`.
    void normalise (Signal& s, double peak)
    {
        float largest = 0.0f;
        for (auto& ch : s)
            for (float x : ch)
                largest = std::max (largest, std::abs (x));
        if (largest > 0.0f)
            for (auto& ch : s)
                for (float& x : ch)
                    x = static_cast<float> (x * peak / largest);
    }

    // A windowed-sinc low-pass (Kaiser, beta 8, 193 taps) with its edge at cutoffHz.
    void lowPass (std::vector<float>& x, int rate, double cutoffHz)
    {
        constexpr int half = 96;
        const double c = 2.0 * cutoffHz / rate;
        std::vector<double> h (2 * half + 1);
        for (int k = -half; k <= half; ++k)
        {
            const double sinc = k == 0 ? c : std::sin (M_PI * c * k) / (M_PI * k);
            const double r = k / (half + 1.0);
            h[static_cast<size_t> (k + half)] =
                sinc * besselI0 (8.0 * std::sqrt (1.0 - r * r)) / besselI0 (8.0);
        }
        std::vector<float> y (x.size(), 0.0f);
        for (size_t n = 0; n < x.size(); ++n)
        {
            double sum = 0.0;
            for (int k = -half; k <= half; ++k)
            {
                const long i = static_cast<long> (n) + k;
                if (i >= 0 && i < static_cast<long> (x.size()))
                    sum += h[static_cast<size_t> (k + half)] * x[static_cast<size_t> (i)];
            }
            y[n] = static_cast<float> (sum);
        }
        x = y;
    }

    // Bursts of 5 to 60 ms of noise with silences between them, different on every channel.
    Signal noiseBursts (int rate, bool bandLimited)
    {
        const size_t frames = framesFor (rate, 0.6);
        Signal s = silence (frames);
        std::mt19937 rng (1770u);
        std::uniform_real_distribution<float> unit (-1.0f, 1.0f);
        std::uniform_int_distribution<int> ms (5, 60);
        for (auto& ch : s)
        {
            size_t i = framesFor (rate, 0.02);
            while (i < frames)
            {
                const size_t end = std::min (frames, i + framesFor (rate, ms (rng) / 1000.0));
                for (; i < end; ++i)
                    ch[i] = unit (rng);
                i += framesFor (rate, ms (rng) / 1000.0);
            }
            if (bandLimited)
                lowPass (ch, rate, 19600.0);
        }
        normalise (s, 2.0);
        return s;
    }

    // Full-band Gaussian noise, independent on every channel; clipped, it is the same noise three
    // times as loud cut off at the level it is then normalised to, so that it has runs of equal
    // samples at full level.
    Signal whiteNoise (int rate, bool clipped)
    {
        const size_t frames = framesFor (rate, 0.6);
        Signal s = silence (frames);
        std::mt19937 rng (clipped ? 4242u : 2424u);
        std::normal_distribution<float> gauss (0.0f, 1.0f);
        for (auto& ch : s)
            for (size_t i = framesFor (rate, 0.02); i < frames; ++i)
                ch[i] = clipped ? std::clamp (3.0f * gauss (rng), -1.0f, 1.0f) : gauss (rng);
        normalise (s, 2.0);
        return s;
    }

    // A tone whose crests fall between samples: 250 ms steady, then bursts of 2, 5 and 10 ms with
    // 1 ms raised-cosine edges, 20 ms apart. Each channel has its own level and phase.
    Signal toneBursts (int rate, double hz)
    {
        const size_t frames = framesFor (rate, 0.6);
        Signal s = silence (frames);
        const double fade = 0.001;
        struct Span
        {
            double start, length;
        };
        const Span spans[] = { { 0.05, 0.25 },  { 0.33, 0.002 }, { 0.36, 0.005 }, { 0.39, 0.01 },
                               { 0.42, 0.002 }, { 0.45, 0.005 }, { 0.48, 0.01 } };
        for (size_t ch = 0; ch < numChannels; ++ch)
        {
            const double level = 2.0 * (1.0 - 0.2 * static_cast<double> (ch));
            // A crest half a sample after sample 0, a quarter more on each channel.
            const double crest = 0.5 + 0.25 * static_cast<double> (ch);
            for (size_t i = 0; i < frames; ++i)
            {
                const double t = static_cast<double> (i) / rate;
                double envelope = 0.0;
                for (const auto& span : spans)
                {
                    const double u = t - span.start;
                    if (u < 0.0 || u > span.length + 2.0 * fade)
                        continue;
                    const double rise = std::min (1.0, u / fade),
                                 fall = std::min (1.0, (span.length + 2.0 * fade - u) / fade);
                    envelope = 0.5 - 0.5 * std::cos (M_PI * std::min (rise, fall));
                }
                s[ch][i] = static_cast<float> (
                    level * envelope
                    * std::cos (twoPi * hz * (static_cast<double> (i) - crest) / rate));
            }
        }
        return s;
    }

    // Squares of 1 kHz and 5.5 kHz, steady on two channels and in bursts on two: naive (every
    // sample +2 or -2) or, band-limited, made of their odd harmonics below the Nyquist frequency.
    Signal squares (int rate, bool bandLimited)
    {
        const size_t frames = framesFor (rate, 0.6);
        Signal s = silence (frames);
        const double hz[] = { 1000.0, 5500.0, 1000.0, 5500.0 };
        for (size_t ch = 0; ch < numChannels; ++ch)
            for (size_t i = framesFor (rate, 0.02); i < frames; ++i)
            {
                const double t = static_cast<double> (i) / rate;
                if (! (ch < 2 || std::fmod (t, 0.05) < 0.01))
                    continue;
                const double cycles = hz[ch] * t + 0.1 * static_cast<double> (ch);
                if (! bandLimited)
                {
                    s[ch][i] = std::fmod (cycles, 1.0) < 0.5 ? 2.0f : -2.0f;
                    continue;
                }
                double sum = 0.0;
                for (int k = 1; k * hz[ch] < 0.5 * rate; k += 2)
                    sum += std::sin (twoPi * k * cycles) / k;
                s[ch][i] = static_cast<float> (4.0 / M_PI * sum);
            }
        normalise (s, 2.0);
        return s;
    }

    // Single samples of +-2 at irregular spacing, alone on their channel or on several at once.
    Signal impulses (int rate)
    {
        const size_t frames = framesFor (rate, 0.6);
        Signal s = silence (frames);
        std::mt19937 rng (4u);
        std::uniform_int_distribution<int> gap (1, 400), channel (0, 4);
        for (size_t i = framesFor (rate, 0.02); i < frames; i += static_cast<size_t> (gap (rng)))
        {
            const int which = channel (rng);
            for (size_t ch = 0; ch < numChannels; ++ch)
                if (which == 4 || static_cast<size_t> (which) == ch)
                    s[ch][i] = (i % 3 == 0) ? -2.0f : 2.0f;
        }
        return s;
    }

    // The fs/4 pattern: +a, +a, -a, -a (a 45 degree phase offset) on two channels, and a 22.5 degree
    // offset scaled to the same sample peak on the others; steady, then in bursts.
    Signal quarterRate (int rate)
    {
        const size_t frames = framesFor (rate, 0.6);
        Signal s = silence (frames);
        for (size_t ch = 0; ch < numChannels; ++ch)
        {
            const double offset = ch < 2 ? M_PI / 4.0 : M_PI / 8.0;
            const double scale =
                2.0 / std::max (std::abs (std::sin (offset)), std::abs (std::cos (offset)));
            for (size_t i = framesFor (rate, 0.02); i < frames; ++i)
            {
                const double t = static_cast<double> (i) / rate;
                const bool on = t < 0.3 || std::fmod (t, 0.03) < 0.004;
                s[ch][i] =
                    on ? static_cast<float> (scale
                                             * std::sin (M_PI / 2.0 * static_cast<double> (i)
                                                         + offset + (ch % 2 == 1 ? M_PI : 0.0)))
                       : 0.0f;
            }
        }
        return s;
    }

    // The fs/2 pattern +a, -a, +a, ...: steady, then in bursts with abrupt edges, on one channel;
    // with its phase reversed every 3 ms (a pair of equal samples at each reversal) on another; in
    // bursts of 2 to 10 samples on the third; and steady but with every 50th sample left out on the
    // fourth.
    Signal halfRate (int rate)
    {
        const size_t frames = framesFor (rate, 0.6);
        Signal s = silence (frames);
        std::mt19937 rng (2u);
        std::uniform_int_distribution<int> shortBurst (2, 10), gap (20, 400);
        const size_t from = framesFor (rate, 0.02);
        for (size_t i = from; i < frames; ++i)
        {
            const float alternating = (i % 2 == 0) ? 2.0f : -2.0f;
            const double t = static_cast<double> (i) / rate;
            s[0][i] = (t < 0.3 || std::fmod (t, 0.023) < 0.009) ? alternating : 0.0f;
            s[1][i] = (static_cast<long> (t / 0.003) % 2 == 0) ? alternating : -alternating;
            s[3][i] = (i % 50 == 0) ? 0.0f : -alternating;
        }
        for (size_t i = from; i < frames;)
        {
            const size_t end = std::min (frames, i + static_cast<size_t> (shortBurst (rng)));
            for (; i < end; ++i)
                s[2][i] = (i % 2 == 0) ? 2.0f : -2.0f;
            i += static_cast<size_t> (gap (rng));
        }
        return s;
    }

    // The first 1.5 s of orvalis-render's demo scene (48 kHz, peaks about +9 dBFS); at other rates
    // the same samples, so its spectrum scales with the rate.
    Signal demoScene (int)
    {
        const size_t frames = framesFor (48000, 1.5);
        Signal s = silence (frames);
        for (size_t i = 0; i < frames; ++i)
        {
            float frame[numChannels];
            DemoSceneReader::renderFrame (static_cast<juce::int64> (i), frame);
            for (size_t ch = 0; ch < numChannels; ++ch)
                s[ch][i] = frame[ch];
        }
        return s;
    }

} // namespace

std::vector<CorpusSignal> corpus()
{
    const auto nyquistTone = [] (double fraction)
    { return [fraction] (int rate) { return toneBursts (rate, fraction * 0.5 * rate); }; };
    return {
        { "demo scene", demoScene },
        { "white noise", [] (int rate) { return whiteNoise (rate, false); } },
        { "clipped noise", [] (int rate) { return whiteNoise (rate, true); } },
        { "noise bursts, white", [] (int rate) { return noiseBursts (rate, false); } },
        { "noise bursts to 19.6 kHz", [] (int rate) { return noiseBursts (rate, true); } },
        { "997 Hz", [] (int rate) { return toneBursts (rate, 997.0); } },
        { "9 kHz", [] (int rate) { return toneBursts (rate, 9000.0); } },
        { "16.5 kHz", [] (int rate) { return toneBursts (rate, 16500.0); } },
        { "19.3 kHz", [] (int rate) { return toneBursts (rate, 19300.0); } },
        { "0.95 of Nyquist", nyquistTone (0.95) },
        { "0.99 of Nyquist", nyquistTone (0.99) },
        { "squares 1, 5.5 kHz, naive", [] (int rate) { return squares (rate, false); } },
        { "squares 1, 5.5 kHz, band-limited", [] (int rate) { return squares (rate, true); } },
        { "single-sample impulses", impulses },
        { "fs/4 pattern", quarterRate },
        { "fs/2 pattern", halfRate },
    };
}
} // namespace corpusSignals
