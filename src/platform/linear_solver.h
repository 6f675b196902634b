// The linear solver shared by every least-squares fit of the program.
//
// Solves the symmetric normal equations N p = r of up to 80 unknowns by
// Gauss-Jordan elimination with partial pivoting, carried out on N and, row
// for row, on an identity matrix that becomes N's inverse (the covariance of
// the fitted parameters when N = J'WJ). The elimination order is the
// classical one: for each column the unused row with the largest absolute
// value becomes the pivot (the first on ties).
//
// A zero pivot or a non-finite result marks the system as singular; the
// caller then treats its fit as failed instead of letting NaN reach areas
// or calibrations.
#pragma once

#include <array>
#include <vector>

namespace kestrim {

inline constexpr int kMaxUnknowns = 80;

class NormalEquations {
 public:
  explicit NormalEquations(int n = 0) { reset(n); }

  // Clears the first n rows and columns, the right-hand side and the solution.
  void reset(int n);
  int size() const { return n_; }

  double& normal(int i, int j) { return m_[i * kMaxUnknowns + j]; }
  double normal(int i, int j) const { return m_[i * kMaxUnknowns + j]; }
  double& rhs(int i) { return r_[i]; }
  double rhs(int i) const { return r_[i]; }

  // Copies the lower triangle of the normal matrix into the upper one.
  void mirror_lower();

  // Solves in place: afterwards inverse() holds N^-1 and solution() p.
  // The normal matrix is destroyed. Returns false when a pivot was zero or
  // a value came out non-finite (the solution is then not to be used).
  bool solve();

  double inverse(int i, int j) const { return inv_[i * kMaxUnknowns + j]; }
  double solution(int i) const { return p_[i]; }

 private:
  int n_ = 0;
  std::vector<double> m_ = std::vector<double>(kMaxUnknowns * kMaxUnknowns);
  std::vector<double> inv_ = std::vector<double>(kMaxUnknowns * kMaxUnknowns);
  std::array<double, kMaxUnknowns> r_{};
  std::array<double, kMaxUnknowns> p_{};
};

}  // namespace kestrim
