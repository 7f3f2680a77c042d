// Ship-class factor table: how much damage dealt by one class to another counts.
#pragma once

// Factor for an attacker class (row) against a target class (column). Classes without an
// entry (below 3, negative, 14 and above) give 1.0.
float class_factor(int attackerClass, int targetClass);
inline float classFactor(int attackerClass, int targetClass) { return class_factor(attackerClass, targetClass); }
