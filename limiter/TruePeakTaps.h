#pragma once

// The true-peak detector's filters (see TruePeakInterpolator): the taps c_0 (nearest the half-way
// point) to c_{M-1} of each stage; the point half-way between samples k and k + 1 is the sum of
// c_j * (x[k - j] + x[k + 1 + j]). Printed by orvalis-interpolator-design (tools/interpolator),
// which gives their targets and errors.
namespace truePeakTaps
{
// clang-format off
inline constexpr float firstStage[] = { 0.636428297f, -0.211633116f, 0.126371443f, -0.0896188617f, 0.069041051f, -0.055820547f, 0.0465670824f, -0.039698936f, 0.0343793705f, -0.0301239751f, 0.0266332477f, -0.0237116273f, 0.0212263204f, -0.0190834962f, 0.0172152985f, -0.0155731123f, 0.0141136823f, -0.0128096286f, 0.0116374167f, -0.0105779031f, 0.00961581618f, -0.00873835199f, 0.0079351915f, -0.0071974718f, 0.00651805662f, -0.00589069538f, 0.00531042321f, -0.00477280747f, 0.00427442091f, -0.0038121324f, 0.00338361622f, -0.00298666791f, 0.00261973124f, -0.00228123204f, 0.00197011605f, -0.00168519362f, 0.00142568839f, -0.00119059405f, 0.000979254837f, -0.00217908598f };
inline constexpr float secondStage[] = { 0.610738993f, -0.144641325f, 0.0411372744f, -0.00747450115f };
inline constexpr float thirdStage[] = { 0.56965667f, -0.0702440441f };
// The 4x meter of orvalis-render (render/TruePeakMeter, a Kaiser-windowed sinc of 12 taps, beta 4,
// each phase normalised to unity gain at DC): the point a quarter of a sample after sample c is
// the sum of meterQuarter[k] * x[c - 5 + k], the point three quarters after it the same taps
// reversed, the point half-way the sum of meterHalf[k] * (x[c - 5 + k] + x[c + 6 - k]).
inline constexpr float meterQuarter[] = { -0.00829980709f, 0.0199072473f, -0.0404097512f, 0.0781132132f, -0.167441502f, 0.900285482f, 0.292957276f, -0.111076482f, 0.056138102f, -0.0287246853f, 0.0132544022f, -0.00470352778f };
inline constexpr float meterHalf[] = { -0.00898965914f, 0.0231374316f, -0.0483474471f, 0.0936326683f, -0.190990418f, 0.631557405f };
// clang-format on
/** No point of the 8x grid exceeds this times the largest magnitude of the samples it takes. */
inline constexpr float largestPointGain = 3.1941f;
} // namespace truePeakTaps
