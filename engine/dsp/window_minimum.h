// Minimum over a run of a look-ahead window, the inner loop of the two
// look-ahead limiters at the end of the chain.
#pragma once

namespace vantle {

// Smallest of q and term(k) for k = 0..n-1. Two running minima let
// consecutive terms be compared independently; the minimum is the same value
// whichever order the terms are taken in, so the result does not depend on it.
template <typename Term>
inline double runMinimum(int n, double q, Term term) {
  double q0 = q;
  double q1 = q;
  int k = 0;
  for (; k + 1 < n; k += 2) {
    const double e0 = term(k);
    const double e1 = term(k + 1);
    q0 = e0 < q0 ? e0 : q0;
    q1 = e1 < q1 ? e1 : q1;
  }
  if (k < n) {
    const double e = term(k);
    q0 = e < q0 ? e : q0;
  }
  return q1 < q0 ? q1 : q0;
}

}  // namespace vantle
