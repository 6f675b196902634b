#include "platform/linear_solver.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace kestrim {

void NormalEquations::reset(int n) {
  assert(n >= 0 && n <= kMaxUnknowns);
  n_ = n;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      m_[i * kMaxUnknowns + j] = 0.0;
      inv_[i * kMaxUnknowns + j] = (i == j) ? 1.0 : 0.0;
    }
    r_[i] = 0.0;
    p_[i] = 0.0;
  }
}

void NormalEquations::mirror_lower() {
  for (int i = 0; i < n_; ++i)
    for (int j = i + 1; j < n_; ++j) normal(i, j) = normal(j, i);
}

bool NormalEquations::solve() {
  const int n = n_;
  const int w = kMaxUnknowns;
  bool ok = true;
  for (int a = 0; a < n; ++a) {
    // Rows 0..a-1 have served as pivots; choose among a..n-1.
    int pivot = a;
    double best = std::fabs(m_[a * w + a]);
    for (int i = a + 1; i < n; ++i) {
      double v = std::fabs(m_[i * w + a]);
      if (v > best) {
        best = v;
        pivot = i;
      }
    }
    if (pivot != a) {
      for (int j = 0; j < n; ++j) {
        std::swap(m_[a * w + j], m_[pivot * w + j]);
        std::swap(inv_[a * w + j], inv_[pivot * w + j]);
      }
    }
    double diag = m_[a * w + a];
    if (diag == 0.0 || !std::isfinite(diag)) {
      ok = false;
      continue;
    }
    for (int i = 0; i < n; ++i) {
      if (i == a) continue;
      double f = m_[i * w + a] / diag;
      if (f == 0.0) continue;
      for (int j = 0; j < n; ++j) {
        m_[i * w + j] -= f * m_[a * w + j];
        inv_[i * w + j] -= f * inv_[a * w + j];
      }
    }
  }
  // Row swaps are applied to the right-hand side through the inverse: the
  // inverse computed this way is N^-1 itself, so p = N^-1 r.
  for (int i = 0; i < n; ++i) {
    double d = m_[i * w + i];
    for (int j = 0; j < n; ++j) inv_[i * w + j] /= d;
  }
  for (int i = 0; i < n; ++i) {
    double s = 0.0;
    for (int j = 0; j < n; ++j) s += inv_[i * w + j] * r_[j];
    p_[i] = s;
    if (!std::isfinite(s)) ok = false;
  }
  return ok;
}

}  // namespace kestrim
