#include "server/session/class_factors.h"

namespace {

constexpr int firstClass = 3;
constexpr int classCount = 11;  // classes 3 to 13

// Row: attacker class, column: target class, both from 3.
constexpr float factors[classCount][classCount] = {
    {1.0f, 2.5f, 1.0f, 0.8f, 3.5f, 1.8f, 2.0f, 0.9f, 1.0f, 1.4f, 3.0f},
    {0.4f, 1.0f, 0.6f, 0.4f, 2.0f, 0.9f, 0.8f, 0.5f, 0.7f, 0.7f, 1.5f},
    {1.0f, 2.5f, 1.0f, 0.7f, 4.0f, 1.5f, 2.0f, 0.8f, 1.0f, 1.5f, 3.0f},
    {1.5f, 4.0f, 2.0f, 1.0f, 5.0f, 3.0f, 3.0f, 1.5f, 2.5f, 2.5f, 4.5f},
    {0.2f, 0.8f, 0.2f, 0.1f, 1.0f, 0.6f, 0.6f, 0.15f, 0.3f, 0.5f, 0.9f},
    {0.5f, 1.5f, 0.6f, 0.3f, 3.5f, 1.0f, 0.9f, 0.4f, 0.8f, 0.8f, 3.0f},
    {0.6f, 1.5f, 0.7f, 0.5f, 2.5f, 1.2f, 1.0f, 0.6f, 0.8f, 0.8f, 2.0f},
    {1.5f, 3.0f, 1.5f, 0.75f, 4.5f, 2.5f, 2.5f, 1.0f, 2.0f, 2.0f, 4.0f},
    {1.0f, 2.5f, 1.0f, 0.65f, 4.0f, 1.5f, 2.0f, 0.75f, 1.0f, 1.5f, 3.0f},
    {0.7f, 2.0f, 0.85f, 0.7f, 3.0f, 1.4f, 1.5f, 0.8f, 0.9f, 1.0f, 2.5f},
    {0.3f, 0.9f, 0.4f, 0.2f, 1.5f, 0.6f, 0.7f, 0.3f, 0.5f, 0.6f, 1.0f},
};

bool inTable(int shipClass) { return shipClass >= firstClass && shipClass < firstClass + classCount; }

}  // namespace

float class_factor(int attackerClass, int targetClass) {
    if (!inTable(attackerClass) || !inTable(targetClass)) return 1.0f;
    return factors[attackerClass - firstClass][targetClass - firstClass];
}
