#include "platform/linear_solver.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kestrim {
namespace {

// N = [[4,2,0],[2,5,1],[0,1,3]], r = N * (1,-2,3) = (0,-5,7).
// det N = 4*(15-1) - 2*(6-0) = 44; N^-1[0][0] = 14/44, [1][1] = 12/44, [2][2] = 16/44.
TEST(NormalEquations, SolvesKnownSystemAndReturnsInverse) {
  NormalEquations eq(3);
  const double n[3][3] = {{4, 2, 0}, {2, 5, 1}, {0, 1, 3}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j <= i; ++j) eq.normal(i, j) = n[i][j];
  eq.mirror_lower();
  eq.rhs(0) = 0;
  eq.rhs(1) = -5;
  eq.rhs(2) = 7;
  ASSERT_TRUE(eq.solve());
  EXPECT_NEAR(eq.solution(0), 1.0, 1e-12);
  EXPECT_NEAR(eq.solution(1), -2.0, 1e-12);
  EXPECT_NEAR(eq.solution(2), 3.0, 1e-12);
  EXPECT_NEAR(eq.inverse(0, 0), 14.0 / 44, 1e-12);
  EXPECT_NEAR(eq.inverse(1, 1), 12.0 / 44, 1e-12);
  EXPECT_NEAR(eq.inverse(2, 2), 16.0 / 44, 1e-12);
  EXPECT_NEAR(eq.inverse(0, 1), -6.0 / 44, 1e-12);
}

TEST(NormalEquations, PivotingHandlesZeroLeadingDiagonal) {
  NormalEquations eq(2);
  eq.normal(0, 0) = 0;
  eq.normal(0, 1) = 1;
  eq.normal(1, 0) = 1;
  eq.normal(1, 1) = 0;
  eq.rhs(0) = 2;
  eq.rhs(1) = 3;
  ASSERT_TRUE(eq.solve());
  EXPECT_NEAR(eq.solution(0), 3.0, 1e-12);
  EXPECT_NEAR(eq.solution(1), 2.0, 1e-12);
}

TEST(NormalEquations, SingularSystemIsReportedNotReturnedAsNumbers) {
  NormalEquations eq(2);
  eq.normal(0, 0) = 1;
  eq.normal(0, 1) = 2;
  eq.normal(1, 0) = 2;
  eq.normal(1, 1) = 4;
  eq.rhs(0) = 1;
  eq.rhs(1) = 2;
  EXPECT_FALSE(eq.solve());
}

TEST(NormalEquations, LargestSystemOfEightyUnknowns) {
  NormalEquations eq(kMaxUnknowns);
  for (int i = 0; i < kMaxUnknowns; ++i) {
    eq.normal(i, i) = 2.0 + i;
    if (i > 0) eq.normal(i, i - 1) = 0.5;
  }
  eq.mirror_lower();
  for (int i = 0; i < kMaxUnknowns; ++i) {
    double s = eq.normal(i, i) * 1.0 + (i > 0 ? 0.5 : 0) + (i + 1 < kMaxUnknowns ? 0.5 : 0);
    eq.rhs(i) = s;  // solution all ones
  }
  ASSERT_TRUE(eq.solve());
  for (int i = 0; i < kMaxUnknowns; ++i) EXPECT_NEAR(eq.solution(i), 1.0, 1e-10) << i;
}

}  // namespace
}  // namespace kestrim
