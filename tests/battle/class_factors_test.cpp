#include <gtest/gtest.h>

#include "server/session/class_factors.h"

namespace {

struct FactorCase {
    int attacker, target;
    float expected;
};

TEST(ClassFactors, TableEntriesAndClassesWithoutEntry) {
    const FactorCase cases[] = {
        {6, 7, 5.0f},   {7, 6, 0.1f},   {13, 13, 1.0f}, {10, 6, 0.75f}, {3, 4, 2.5f},  {4, 3, 0.4f},
        {3, 13, 3.0f},  {13, 3, 0.3f},  {11, 6, 0.65f}, {7, 10, 0.15f}, {12, 5, 0.85f},
        // classes without an entry
        {14, 7, 1.0f},  {7, 14, 1.0f},  {6, 200, 1.0f}, {0, 7, 1.0f},   {6, 2, 1.0f},  {-1, 7, 1.0f},
        {6, -128, 1.0f}, {2, 2, 1.0f},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(class_factor(c.attacker, c.target), c.expected) << c.attacker << " against " << c.target;
        EXPECT_EQ(classFactor(c.attacker, c.target), c.expected);
    }
}

TEST(ClassFactors, DiagonalIsOneAndStoredAsNearestSingle) {
    for (int k = 3; k <= 13; ++k) EXPECT_EQ(class_factor(k, k), 1.0f) << k;
    EXPECT_EQ(class_factor(11, 6), 0.64999998f);
    EXPECT_EQ(static_cast<double>(class_factor(7, 10)), static_cast<double>(0.15000001f));
}

}  // namespace
