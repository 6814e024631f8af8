// The optimizer library's problem block, its hook block and the profile
// settings.  One struct each, fields named; the optimizer subsystems add the
// fields they own next to their group.
#pragma once

#include <cstdint>

struct ProcContext;
struct HostFile;
struct NlpHookBlock;

// Profile-limit settings, in order.
struct ProfileSettings {
    void* link = nullptr;          // used by the optimizer
    int32_t method = 0;            // 0 none, 1 parameters, 2 default set, 3 parameters with levels
    int32_t countOption = 0;
    int32_t defaultSet = 0;        // set by the option reader
    int32_t nLevels = 0;           // number of confidence levels
    int32_t limitFlag1 = 0;        // 2 from PROFILE bit 16
    int32_t limitFlag2 = 0;        // 1 from PROFILE bit 32
    int32_t nProfiled = 0;         // number of profiled parameters
    int32_t* indexList = nullptr;  // 0-based indices of the profiled parameters
    double options[3] = {};
    double* levels = nullptr;      // confidence levels
};

using NlpCallback = int32_t (*)(struct NlpProblem* nlp);
using NlpRowCallback = int32_t (*)(struct NlpProblem* nlp, int32_t row, double* out);
using NlpHook = void (*)(struct NlpProblem* nlp);

struct NlpProblem {
    // Links and files.
    ProcContext* owner = nullptr;      // back link to the procedure's context
    NlpHookBlock* hooks = nullptr;     // the hook block
    HostFile* utilityFile = nullptr;   // the optimizer's own utility file

    // Callback slots.
    NlpCallback objectiveFn = nullptr;
    NlpCallback gradientFn = nullptr;
    NlpCallback hessianFn = nullptr;
    NlpCallback conJacobianFn = nullptr;
    NlpRowCallback conRowFn = nullptr;
    NlpHook iterOutputHook = nullptr;
};

struct NlpHookBlock {
    ProfileSettings* profile = nullptr;  // the driver points it at the block itself
    ProfileSettings settings;            // the profile-limit settings it points to

    NlpCallback objectiveFn = nullptr;
    NlpCallback gradientFn = nullptr;
    NlpCallback crossProductFn = nullptr;
    NlpCallback hessianFn = nullptr;
    NlpCallback conJacobianFn = nullptr;
    NlpHook outestHook = nullptr;
};
