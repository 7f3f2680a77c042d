// The instance pool's step at the end of every configuration load.
#pragma once

// Set by the instance pool; null until then, and the load ends without the step. The step
// reads serverSettings (groupFile, groupName, port, ...) and clears `serverRunning` when this
// copy must stop.
using InstancePoolStep = void (*)(bool& serverRunning);
extern InstancePoolStep instancePoolStepHook;
