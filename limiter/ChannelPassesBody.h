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
int samplePeaks (
    float* const* x, int numChannels, int start, int count, float limit, float* framePeaks) noexcept
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
            for (int i = 0; i < vectorEnd; i += kWidth)
            {
                Wide largest = first == 0 ? splatWide (0.0f) : loadWide (framePeaks + i);
                for (int c = 0; c < groupSize; ++c)
                {
                    const Wide v = magnitude (loadWide (x[first + c] + start + i));
                    nonFinite = nonFinite | notFinite (v);
                    largest = larger (largest, v);
                }
                storeWide (framePeaks + i, isLastGroup ? larger (upper, largest) : largest);
            }
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
// the run reads first, after), then interpolated, gained and clamped. Returns the frame's output
// true peak in true-peak mode.
template <typename V, bool interpolated, bool readFirst, bool olderIsWritten, bool truePeak>
inline V delayStep (
    RunValues v, float* io, float* line, float* peakLine, const float* framePeakOf, int j) noexcept
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
    storeAs (io + j, larger (splatAs<V> (-v.limit), smaller (splatAs<V> (v.limit), y * g)));
    if constexpr (truePeak)
    {
        storeAs (peakLine + v.w + j, loadAs<V> (framePeakOf + j));
        return loadAs<V> (peakLine + v.leaving + j) * g;
    }
    else
        return splatAs<V> (0.0f);
}

template <bool interpolated, bool readFirst, bool olderIsWritten, bool truePeak>
void delayRun (const DelayRun& run) noexcept
{
    const RunValues v { run.gains + run.k, run.fracs + run.k, run.rests + run.k, run.w, run.r,
                        run.older,         run.leaving,       run.limit };
    const int count = run.count, numChannels = run.numChannels, k = run.k;
    const std::size_t ringFrames = run.ringFrames;
    for (int ch = 0; ch < numChannels; ++ch)
    {
        float* const io = run.io[ch] + k;
        float* const line = run.lines + static_cast<std::size_t> (ch) * ringFrames;
        float* const peakLine = run.peakLines + static_cast<std::size_t> (ch) * ringFrames;
        const float* const framePeakOf = run.channelPeaks + ch * chunkLength + k;
        Wide largest = splatWide (0.0f);
        lanes::Single largestTail { 0.0f };
        int j = 0;
        for (; j + kWidth <= count; j += kWidth)
        {
            const Wide out = delayStep<Wide, interpolated, readFirst, olderIsWritten, truePeak> (
                v, io, line, peakLine, framePeakOf, j);
            if constexpr (truePeak)
                largest = larger (largest, out);
        }
        for (; j < count; ++j)
        {
            const lanes::Single out =
                delayStep<lanes::Single, interpolated, readFirst, olderIsWritten, truePeak> (
                    v, io, line, peakLine, framePeakOf, j);
            if constexpr (truePeak)
                largestTail = larger (largestTail, out);
        }
        if constexpr (truePeak)
        {
            float l[kWidth];
            storeWide (l, largest);
            float& peak = run.outputTruePeaks[ch];
            for (float x : l)
                peak = peak > x ? peak : x;
            peak = peak > largestTail.v ? peak : largestTail.v;
        }
    }
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
    for (int i = 0; i < vectorEnd; i += kWidth)
    {
        Wide sum = splatWide (0.0f), absolute = splatWide (0.0f);
        for (int ch = 0; ch < numChannels; ++ch)
        {
            const Wide y = loadWide (channels[ch] + start + i);
            sum = sum + y;
            absolute = absolute + magnitude (y);
        }
        float t[kWidth], m[kWidth];
        storeWide (t, sum);
        storeWide (m, absolute);
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

template <int... options>
constexpr Passes passesFor (std::integer_sequence<int, options...>) noexcept
{
    return { &samplePeaks,
             &finiteOnlyPass,
             &truePeakFramePeaks,
             { &delayRun<(options & 8) != 0,
                         (options & 4) != 0,
                         (options & 2) != 0,
                         (options & 1) != 0>... },
             &addFrameSums,
             kWidth };
}
