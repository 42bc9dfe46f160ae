#pragma once

// Where Orvalis HOA's window puts its order meters: eight narrow tracks a side, one per ambisonic
// order 0 to 7, in the places of Orvalis's four channel meters, and the order caption under the
// input meters. The artwork generator prints the tracks and their numbers into the background at
// these places; the window lays the meters over them.
namespace hoaMeters
{
constexpr int numTracks = 8;
constexpr int trackWidth = 6;
constexpr int pitch = 9;
constexpr int top = 76;
constexpr int height = 162;

constexpr int inputX (int order) noexcept
{
    return 50 + pitch * order;
}
constexpr int outputX (int order) noexcept
{
    return 218 + pitch * order;
}

/** The meters' numbers, in the row of Orvalis's channel captions; their picture starts at the
    first track and has one cell per pitch. */
constexpr int digitsY = 248;

/** The caption naming the order and the channel count: one row per order in its picture. */
constexpr int captionX = 35;
constexpr int captionY = 262;
constexpr int captionWidth = 100;
constexpr int captionHeight = 9;
} // namespace hoaMeters
