// The engine's per-channel passes (see ChannelPasses.h), written once for any vector width. No
// include guard: ChannelPasses.cpp includes this file once per instruction set, inside a
// namespace that defines the vector type Wide, its width kWidth and its operations (loadWide,
// storeWide, splatWide, and by argument-dependent lookup +, *, |, magnitude, signedZero, larger,
// smaller, finiteOnly, notFinite, any, firstAbove); lanes::Single serves the ends of the loops. Plain functions and
// templates only, no lambdas, so that one compiler attribute reaches every function here.

template <typename V>
inline V loadAs (const float* p) noexcept;
template <>
inline Wide loadAs<Wide> (const float* p) noexcept
{
    return loadWide (p);
}
template <>
inline lanes::Single loadAs<lanes::Single> (const float* p) noexcept
{
    return { *p };
}
template <typename V>
inline V splatAs (float x) noexcept;
template <>
inline Wide splatAs<Wide> (float x) noexcept
{
    return splatWide (x);
}
template <>
inline lanes::Single splatAs<lanes::Single> (float x) noexcept
{
    return { x };
}
inline void storeAs (float* p, Wide a) noexcept
{
    storeWide (p, a);
}
inline void storeAs (float* p, lanes::Single a) noexcept
{
    *p = a.v;
}

// Channels four at a time, frames kWidth at a time within them; the frames after the last whole
// vector frame by frame, channel by channel. With every sample finite the maximum's order does not
// matter, and a limit that is NaN or not positive compares alike on both. Non-finite samples are
// looked for as the peaks are taken; only a chunk that has any is made finite and taken again.
// Whether each channel is silent (every sample +0) is found from the same loads.
int samplePeaks (float* const* x,
                 int numChannels,
                 int start,
                 int count,
                 float limit,
                 float* framePeaks,
                 bool* silent) noexcept
{
    const Wide upper = splatWide (limit);
    const int vectorEnd = count - count % kWidth;
    for (bool cleaned = false;;)
    {
        Wide nonFinite = splatWide (0.0f);
        for (int first = 0; first < numChannels; first += 4)
        {
            const int groupSize = std::min (4, numChannels - first);
            const bool isLastGroup = first + groupSize == numChannels;
            Wide bits[4];
            for (int c = 0; c < 4; ++c)
                bits[c] = splatWide (0.0f);
            for (int i = 0; i < vectorEnd; i += kWidth)
            {
                Wide largest = first == 0 ? splatWide (0.0f) : loadWide (framePeaks + i);
                for (int c = 0; c < groupSize; ++c)
                {
                    const Wide sample = loadWide (x[first + c] + start + i);
                    bits[c] = orBits (bits[c], sample);
                    const Wide v = magnitude (sample);
                    nonFinite = nonFinite | notFinite (v);
                    largest = larger (largest, v);
                }
                storeWide (framePeaks + i, isLastGroup ? larger (upper, largest) : largest);
            }
            for (int c = 0; c < groupSize; ++c)
                silent[first + c] = ! anyBitSet (bits[c]);
        }
        if (cleaned || ! any (nonFinite))
            break;
        for (int ch = 0; ch < numChannels; ++ch)
            for (int i = 0; i < vectorEnd; i += kWidth)
                storeWide (x[ch] + start + i, finiteOnly (loadWide (x[ch] + start + i)));
        cleaned = true;
    }
    int firstAboveLimit = count;
    for (int i = 0; i < vectorEnd; i += kWidth)
    {
        const int lane = firstAbove (loadWide (framePeaks + i), upper);
        if (lane < kWidth)
        {
            firstAboveLimit = i + lane;
            break;
        }
    }
    for (int i = vectorEnd; i < count; ++i)
    {
        float v = limit;
        for (int ch = 0; ch < numChannels; ++ch)
        {
            const float sample = std::isfinite (x[ch][start + i]) ? x[ch][start + i] : 0.0f;
            x[ch][start + i] = sample;
            if (! lanes::isPositiveZero (sample))
                silent[ch] = false;
            v = v > std::abs (sample) ? v : std::abs (sample);
        }
        framePeaks[i] = v;
        if (firstAboveLimit == count && v > limit)
            firstAboveLimit = i;
    }
    return firstAboveLimit;
}

void finiteOnlyPass (float* const* x, int numChannels, int start, int count) noexcept
{
    const int vectorEnd = count - count % kWidth;
    for (int ch = 0; ch < numChannels; ++ch)
    {
        float* const p = x[ch] + start;
        for (int i = 0; i < vectorEnd; i += kWidth)
            storeWide (p + i, finiteOnly (loadWide (p + i)));
        for (int i = vectorEnd; i < count; ++i)
            p[i] = std::isfinite (p[i]) ? p[i] : 0.0f;
    }
}

// A frame's largest channel peak, taken over groups of four channels as larger (larger (p0, p1),
// larger (p2, p3)) and then from group to group; the ceiling unless that times the headroom is
// greater.
template <typename V>
inline void truePeakFramePeaksAt (const float* channelPeaks,
                                  int numChannels,
                                  int i,
                                  float limit,
                                  float headroom,
                                  float* framePeaks) noexcept
{
    const float* const p = channelPeaks + i;
    V largest = splatAs<V> (0.0f);
    int ch = 0;
    for (; ch + 4 <= numChannels; ch += 4)
    {
        const V group = larger (
            larger (loadAs<V> (p + ch * chunkLength), loadAs<V> (p + (ch + 1) * chunkLength)),
            larger (loadAs<V> (p + (ch + 2) * chunkLength),
                    loadAs<V> (p + (ch + 3) * chunkLength)));
        largest = ch == 0 ? group : larger (largest, group);
    }
    for (; ch < numChannels; ++ch)
        largest = ch == 0 ? loadAs<V> (p + ch * chunkLength)
                          : larger (largest, loadAs<V> (p + ch * chunkLength));
    storeAs (framePeaks + i, larger (largest * splatAs<V> (headroom), splatAs<V> (limit)));
}

void truePeakFramePeaks (const float* channelPeaks,
                         int numChannels,
                         int count,
                         float limit,
                         float headroom,
                         float* framePeaks) noexcept
{
    int i = 0;
    for (; i + kWidth <= count; i += kWidth)
        truePeakFramePeaksAt<Wide> (channelPeaks, numChannels, i, limit, headroom, framePeaks);
    for (; i < count; ++i)
        truePeakFramePeaksAt<lanes::Single> (
            channelPeaks, numChannels, i, limit, headroom, framePeaks);
}

// The positions and values of a run that the loops read, as locals: a store through a float
// pointer could otherwise change run.limit, so the compiler would read it again for every frame.
struct RunValues
{
    const float *gains, *fracs, *rests;
    int w, r, older, leaving;
    float limit;
};

// Frame j of a run on one channel: written to the ring before the delayed frame is read (or, when
// the run reads first, after), then interpolated, gained and clamped. Returns what the frame adds
// to the channel's output true-peak readout: with readouts fromRing, its peak from the true-peak
// ring (the frame's channel peak stored there) times its gain; with fromOutput, the output's
// magnitude.
template <typename V, bool interpolated, bool readFirst, bool olderIsWritten, int readouts>
inline V delayStep (RunValues v,
                    float* io,
                    float* line,
                    float* peakLine,
                    const float* framePeakOf,
                    int j,
                    V& output) noexcept
{
    const V frame = loadAs<V> (io + j);
    if constexpr (! readFirst)
        storeAs (line + v.w + j, frame);
    const V current = loadAs<V> (line + v.r + j);
    V olderValue;
    if constexpr (olderIsWritten)
        olderValue = frame;
    else
        olderValue = loadAs<V> (line + v.older + j);
    if constexpr (readFirst)
        storeAs (line + v.w + j, frame);
    V y;
    if constexpr (interpolated)
        y = loadAs<V> (v.fracs + j) * olderValue + loadAs<V> (v.rests + j) * current;
    else
        y = signedZero (olderValue) + current;
    const V g = loadAs<V> (v.gains + j);
    // (y > ceiling ? ceiling : y), then (y < -ceiling ? -ceiling : y)
    output = larger (splatAs<V> (-v.limit), smaller (splatAs<V> (v.limit), y * g));
    storeAs (io + j, output);
    if constexpr (readouts == fromRing)
    {
        storeAs (peakLine + v.w + j, loadAs<V> (framePeakOf + j));
        return loadAs<V> (peakLine + v.leaving + j) * g;
    }
    else if constexpr (readouts == fromOutput)
        return magnitude (output);
    else
        return splatAs<V> (0.0f);
}

// Channels first to first + group - 1 of a run, side by side, frame by frame; a summed run adds
// their outputs to each frame's sums in channel order.
template <std::size_t group,
          bool summed,
          bool interpolated,
          bool readFirst,
          bool olderIsWritten,
          int readouts>
inline void delayChannels (const DelayRun& run, RunValues v, int first) noexcept
{
    const int count = run.count, k = run.k;
    const std::size_t ringFrames = run.ringFrames;
    float* const sums = run.frameSums + k;
    float* const magnitudes = run.frameMagnitudes + k;
    float* io[group];
    float* line[group];
    float* peakLine[group];
    const float* framePeakOf[group];
    Wide largest[group];
    lanes::Single largestTail[group];
    for (std::size_t c = 0; c < group; ++c)
    {
        const int ch = run.channels[first + static_cast<int> (c)];
        io[c] = run.io[ch] + k;
        line[c] = run.lines + static_cast<std::size_t> (ch) * ringFrames;
        peakLine[c] = run.peakLines + static_cast<std::size_t> (ch) * ringFrames;
        framePeakOf[c] = run.channelPeaks + ch * chunkLength + k;
        largest[c] = splatWide (0.0f);
        largestTail[c] = { 0.0f };
    }
    int j = 0;
    for (; j + kWidth <= count; j += kWidth)
    {
        Wide output[group];
        for (std::size_t c = 0; c < group; ++c)
        {
            const Wide out = delayStep<Wide, interpolated, readFirst, olderIsWritten, readouts> (
                v, io[c], line[c], peakLine[c], framePeakOf[c], j, output[c]);
            if constexpr (readouts != noReadouts)
                largest[c] = larger (largest[c], out);
        }
        if constexpr (summed)
        {
            Wide sum = loadWide (sums + j), magnitudeSum = loadWide (magnitudes + j);
            for (std::size_t c = 0; c < group; ++c)
            {
                sum = sum + output[c];
                magnitudeSum = magnitudeSum + magnitude (output[c]);
            }
            storeWide (sums + j, sum);
            storeWide (magnitudes + j, magnitudeSum);
        }
    }
    for (; j < count; ++j)
        for (std::size_t c = 0; c < group; ++c)
        {
            lanes::Single output;
            const lanes::Single out =
                delayStep<lanes::Single, interpolated, readFirst, olderIsWritten, readouts> (
                    v, io[c], line[c], peakLine[c], framePeakOf[c], j, output);
            if constexpr (readouts != noReadouts)
                largestTail[c] = larger (largestTail[c], out);
            if constexpr (summed)
            {
                sums[j] = sums[j] + output.v;
                magnitudes[j] = magnitudes[j] + std::abs (output.v);
            }
        }
    if constexpr (readouts != noReadouts)
        for (std::size_t c = 0; c < group; ++c)
        {
            float l[kWidth];
            storeWide (l, largest[c]);
            float& peak = run.outputTruePeaks[run.channels[first + static_cast<int> (c)]];
            for (float x : l)
                peak = peak > x ? peak : x;
            peak = peak > largestTail[c].v ? peak : largestTail[c].v;
        }
}

// Channels four at a time: a summed run then reads and writes each frame's sums once per four
// channels, and the four channels' steps overlap.
template <bool summed, bool interpolated, bool readFirst, bool olderIsWritten, int readouts>
void delayRun (const DelayRun& run) noexcept
{
    const RunValues v { run.gains + run.k, run.fracs + run.k, run.rests + run.k, run.w, run.r,
                        run.older,         run.leaving,       run.limit };
    int ch = 0;
    for (; ch + 4 <= run.numChannels; ch += 4)
        delayChannels<4, summed, interpolated, readFirst, olderIsWritten, readouts> (run, v, ch);
    for (; ch < run.numChannels; ++ch)
        delayChannels<1, summed, interpolated, readFirst, olderIsWritten, readouts> (run, v, ch);
}

// Each frame's sum and absolute sum over the channels (channel by channel, in single precision,
// one frame per lane), then in double precision per group of kWidth frames: the cumulative sum,
// the absolute sum and, before each group, the cumulative sum's magnitude plus the group's
// absolute sum, which bounds every partial sum of the running sum within the group. Frames are
// added in their order, count of them from channels[ch] + start.
void addFrameSums (
    FrameSums& s, const float* const* channels, int numChannels, int start, int count) noexcept
{
    double total = s.total, absoluteSum = s.absolute, largestPartial = s.largestPartial;
    const int vectorEnd = count - count % kWidth;
    for (int i = 0; i < vectorEnd;)
    {
        // Up to four groups at once, each with its own sums: with one, every addition would wait
        // for the one before.
        constexpr int most = 4;
        const int groups = std::min (most, (vectorEnd - i) / kWidth);
        Wide sum[most], absolute[most];
        for (int g = 0; g < most; ++g)
            sum[g] = absolute[g] = splatWide (0.0f);
        if (groups == most)
            for (int ch = 0; ch < numChannels; ++ch)
                for (int g = 0; g < most; ++g)
                {
                    const Wide y = loadWide (channels[ch] + start + i + g * kWidth);
                    sum[g] = sum[g] + y;
                    absolute[g] = absolute[g] + magnitude (y);
                }
        else
            for (int ch = 0; ch < numChannels; ++ch)
                for (int g = 0; g < groups; ++g)
                {
                    const Wide y = loadWide (channels[ch] + start + i + g * kWidth);
                    sum[g] = sum[g] + y;
                    absolute[g] = absolute[g] + magnitude (y);
                }
        for (int g = 0; g < groups; ++g)
        {
            float t[kWidth], m[kWidth];
            storeWide (t, sum[g]);
            storeWide (m, absolute[g]);
            double groupSum = 0.0, groupAbsolute = 0.0;
            for (int l = 0; l < kWidth; ++l)
            {
                groupSum += static_cast<double> (t[l]);
                groupAbsolute += static_cast<double> (m[l]);
            }
            largestPartial = std::max (largestPartial, std::abs (total) + groupAbsolute);
            total += groupSum;
            absoluteSum += groupAbsolute;
        }
        i += groups * kWidth;
    }
    for (int i = vectorEnd; i < count; ++i)
    {
        float sum = 0.0f, absolute = 0.0f;
        for (int ch = 0; ch < numChannels; ++ch)
        {
            sum += channels[ch][start + i];
            absolute += std::abs (channels[ch][start + i]);
        }
        largestPartial =
            std::max (largestPartial, std::abs (total) + static_cast<double> (absolute));
        total += static_cast<double> (sum);
        absoluteSum += static_cast<double> (absolute);
    }
    s = { total, absoluteSum, largestPartial };
}

// The true-peak interpolator's half-way point H[a] between samples p[0] and p[1] (p at sample a),
// from the first stage's pairs, in four partial sums so that consecutive additions do not wait
// for each other.
inline Wide halfWayAt (const float* p) noexcept
{
    using truePeakTaps::firstStage;
    constexpr int length = static_cast<int> (std::size (firstStage));
    static_assert (length % 4 == 0);
    Wide sum[4];
    for (int k = 0; k < 4; ++k)
        sum[k] = splatWide (firstStage[k]) * (loadWide (p - k) + loadWide (p + k + 1));
    for (int j = 4; j < length; j += 4)
        for (int k = 0; k < 4; ++k)
            sum[k] =
                sum[k]
                + splatWide (firstStage[j + k]) * (loadWide (p - j - k) + loadWide (p + j + k + 1));
    return (sum[0] + sum[1]) + (sum[2] + sum[3]);
}

// The largest magnitude of the 4x meter's three points between sample c (at pc) and c + 1 (see
// truePeakTaps::meterQuarter): with the sums s_k and differences d_k of the mirrored samples
// x[c - 5 + k] and x[c + 6 - k], the half-way point is the sum of meterHalf[k] s_k, and the
// quarter points are A + B and A - B (A and B the sums of the quarter taps' mirrored halves times
// s_k and d_k), the larger of whose magnitudes is |A| + |B|.
inline Wide meterPointsAt (const float* pc) noexcept
{
    using namespace truePeakTaps;
    Wide half = splatWide (0.0f), a = splatWide (0.0f), b = splatWide (0.0f);
    for (int k = 0; k < 6; ++k)
    {
        const Wide early = loadWide (pc - 5 + k), late = loadWide (pc + 6 - k);
        const Wide s = early + late, d = early + (late * splatWide (-1.0f));
        half = half + splatWide (meterHalf[k]) * s;
        a = a + splatWide (0.5f * (meterQuarter[k] + meterQuarter[11 - k])) * s;
        b = b + splatWide (0.5f * (meterQuarter[k] - meterQuarter[11 - k])) * d;
    }
    return larger (magnitude (half), magnitude (a) + magnitude (b));
}

// Frame i pushes sample n (the newest). With a = n - M (M the first stage's half length), the
// first stage adds the 2x stream's point H[a] half-way after sample a; the second, with the 2x
// stream complete up to sample a + 1, the 4x points Q1[b] and Q3[b] a quarter after sample b and
// a quarter before b + 1, b = a - 2; the third the 8x points E1, E3, E5, E7 at c + 1/8 ... c + 7/8,
// c = b - 1. Their magnitudes with those of Q1[c], H[c] and Q3[c] are the interval (c, c + 1)'s
// peak, and the frame's result is the larger of the intervals on either side of sample c and
// that sample's magnitude: the delay is M + 3 samples. Every step is taken for all frames of the
// call at once (frames rounded up to whole vectors, the extra lanes reading zeros and never
// kept); after a call that was skipped, eight frames before the call are taken again first, which
// rebuilds the values carried over (H of four frames back, Q1 of one, Q3 of two, one interval).
void interpolate (
    const float* samples, int numFrames, float* state, float skipUpTo, float* peaks) noexcept
{
    using namespace truePeakTaps;
    constexpr int m = static_cast<int> (std::size (firstStage));
    constexpr int history = interpolatorHistory;
    constexpr int warmUp = 8;
    static_assert (history >= 2 * m + warmUp);
    float* const x = state;
    float* const carried = state + history + chunkLength + 8;
    const int padded = (numFrames + kWidth - 1) / kWidth * kWidth;
    const float* const xa = x + history - m; // xa[i] is sample a of frame i

    for (int i = 0; i < numFrames; ++i)
        x[history + i] = std::abs (samples[i]) >= 1.0e-20f ? samples[i] : 0.0f;
    std::fill (x + history + numFrames, x + history + padded, 0.0f);

    // Every input these frames' peaks take is in x[1] ... x[history + numFrames - 1] (at least
    // history of them); their largest magnitude is taken two vectors at a time, the last vector
    // ending with the last input (the order does not matter to a maximum of finite magnitudes).
    static_assert (history >= 2 * kWidth);
    const int inputs = history + numFrames - 1;
    Wide largestInput[2] = { splatWide (0.0f), splatWide (0.0f) };
    int k = 0;
    for (; k + 2 * kWidth <= inputs; k += 2 * kWidth)
        for (int v = 0; v < 2; ++v)
            largestInput[v] =
                larger (largestInput[v], magnitude (loadWide (x + 1 + k + v * kWidth)));
    if (k + kWidth <= inputs)
        largestInput[0] = larger (largestInput[0], magnitude (loadWide (x + 1 + k)));
    largestInput[1] = larger (largestInput[1], magnitude (loadWide (x + inputs + 1 - kWidth)));
    float largest[kWidth];
    storeWide (largest, larger (largestInput[0], largestInput[1]));
    const float largestMagnitude = *std::max_element (largest, largest + kWidth);

    if (largestMagnitude <= skipUpTo)
    {
        for (int i = 0; i < numFrames; ++i)
            peaks[i] = std::abs (xa[i - 3]);
        carried[8] = 1.0f; // what is carried is now out of date
    }
    else
    {
        const bool rebuild = carried[8] != 0.0f;
        carried[8] = 0.0f;
        const int first = rebuild ? -warmUp : 0;
        constexpr int o = warmUp;
        // h[4 + o + i] is H[a] of frame i, q1[1 + o + i] Q1[b], q3[2 + o + i] Q3[b], intervals[1 +
        // o + i] the interval (c, c + 1)'s peak.
        // Every entry is written before it is read but the first few, which are zeros or what
        // was carried.
        alignas (32) float h[4 + o + chunkLength + 8], q1[1 + o + chunkLength + 8],
            q3[2 + o + chunkLength + 8], intervals[1 + o + chunkLength + 8];
        std::fill_n (h, 4 + o, 0.0f);
        std::fill_n (q1, 1 + o, 0.0f);
        std::fill_n (q3, 2 + o, 0.0f);
        std::fill_n (intervals, 1 + o, 0.0f);
        if (! rebuild)
        {
            std::copy_n (carried, 4, h + o);
            q1[o] = carried[4];
            q3[o] = carried[5];
            q3[o + 1] = carried[6];
            intervals[o] = carried[7];
        }

        for (int i = first; i < padded; i += kWidth)
            storeWide (h + 4 + o + i, halfWayAt (xa + i));

        const Wide s0 = splatWide (secondStage[0]), s1 = splatWide (secondStage[1]),
                   s2 = splatWide (secondStage[2]), s3 = splatWide (secondStage[3]);
        for (int i = first; i < padded; i += kWidth)
        {
            const float* const xb = xa + i - 2; // sample b
            const Wide xm1 = loadWide (xb - 1), x0 = loadWide (xb), xp1 = loadWide (xb + 1),
                       xp2 = loadWide (xb + 2);
            const Wide hm2 = loadWide (h + o + i), hm1 = loadWide (h + o + i + 1),
                       h0 = loadWide (h + o + i + 2), hp1 = loadWide (h + o + i + 3),
                       hp2 = loadWide (h + o + i + 4);
            storeWide (q1 + 1 + o + i,
                       s0 * (x0 + h0) + s1 * (hm1 + xp1) + s2 * (xm1 + hp1) + s3 * (hm2 + xp2));
            storeWide (q3 + 2 + o + i,
                       s0 * (h0 + xp1) + s1 * (x0 + hp1) + s2 * (hm1 + xp2) + s3 * (xm1 + hp2));
        }

        const Wide t0 = splatWide (thirdStage[0]), t1 = splatWide (thirdStage[1]);
        for (int i = first; i < padded; i += kWidth)
        {
            const Wide xc = loadWide (xa + i - 3), xc1 = loadWide (xa + i - 2);
            const Wide hc = loadWide (h + o + i + 1);
            const Wide q1c = loadWide (q1 + o + i), q1c1 = loadWide (q1 + o + i + 1);
            const Wide q3before = loadWide (q3 + o + i), q3c = loadWide (q3 + o + i + 1);
            const Wide e1 = t0 * (xc + q1c) + t1 * (q3before + hc);
            const Wide e3 = t0 * (q1c + hc) + t1 * (xc + q3c);
            const Wide e5 = t0 * (hc + q3c) + t1 * (q1c + xc1);
            const Wide e7 = t0 * (q3c + xc1) + t1 * (hc + q1c1);
            storeWide (intervals + 1 + o + i,
                       larger (larger (larger (magnitude (e1), magnitude (q1c)),
                                       larger (magnitude (e3), magnitude (hc))),
                               larger (larger (magnitude (e5), magnitude (q3c)),
                                       larger (magnitude (e7), meterPointsAt (xa + i - 3)))));
        }

        int i = 0;
        for (; i + kWidth <= numFrames; i += kWidth)
            storeWide (
                peaks + i,
                larger (larger (loadWide (intervals + o + i), magnitude (loadWide (xa + i - 3))),
                        loadWide (intervals + 1 + o + i)));
        for (; i < numFrames; ++i)
        {
            const float before = intervals[o + i], sample = std::abs (xa[i - 3]),
                        after = intervals[1 + o + i];
            const float v = before > sample ? before : sample;
            peaks[i] = v > after ? v : after;
        }

        std::copy_n (h + o + numFrames, 4, carried);
        carried[4] = q1[o + numFrames];
        carried[5] = q3[o + numFrames];
        carried[6] = q3[o + numFrames + 1];
        carried[7] = intervals[o + numFrames];
    }
    std::copy_n (x + numFrames, history, x);
}

// The double-precision part of addFrameSums on frame sums formed elsewhere: the same groups of
// kWidth frames from the first, and the frames after the last whole group one by one.
void addChunkSums (FrameSums& s,
                   const float* frameSums,
                   const float* frameMagnitudes,
                   int count) noexcept
{
    double total = s.total, absoluteSum = s.absolute, largestPartial = s.largestPartial;
    const int vectorEnd = count - count % kWidth;
    for (int i = 0; i < vectorEnd; i += kWidth)
    {
        double groupSum = 0.0, groupAbsolute = 0.0;
        for (int l = 0; l < kWidth; ++l)
        {
            groupSum += static_cast<double> (frameSums[i + l]);
            groupAbsolute += static_cast<double> (frameMagnitudes[i + l]);
        }
        largestPartial = std::max (largestPartial, std::abs (total) + groupAbsolute);
        total += groupSum;
        absoluteSum += groupAbsolute;
    }
    for (int i = vectorEnd; i < count; ++i)
    {
        const double absolute = static_cast<double> (frameMagnitudes[i]);
        largestPartial = std::max (largestPartial, std::abs (total) + absolute);
        total += static_cast<double> (frameSums[i]);
        absoluteSum += absolute;
    }
    s = { total, absoluteSum, largestPartial };
}

template <int... options>
constexpr Passes passesFor (std::integer_sequence<int, options...>) noexcept
{
    return { &samplePeaks,
             &finiteOnlyPass,
             &truePeakFramePeaks,
             &interpolate,
             { &delayRun<(options / 3 & 8) != 0,
                         (options / 3 & 4) != 0,
                         (options / 3 & 2) != 0,
                         (options / 3 & 1) != 0,
                         options % 3>... },
             &addFrameSums,
             &addChunkSums,
             kWidth };
}
