#pragma once

// I0(x), the zeroth-order modified Bessel function of the first kind, by its power series: the
// Kaiser window's shape, for the true-peak meters' interpolation filters. 80 terms leave nothing
// to add in double precision for x up to about 30.
inline double besselI0 (double x) noexcept
{
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 80; ++k)
    {
        const double ratio = x / (2.0 * k);
        term *= ratio * ratio;
        sum += term;
    }
    return sum;
}
