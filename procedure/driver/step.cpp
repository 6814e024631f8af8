// The module entry and the procedure step.
//
// mcn_main runs once when the host loads the module: it keeps the host's
// anchors and hands back the image-information block.  zavvelix runs once
// per PROC VELIX step and never returns normally: every path ends through
// xexit with the step's return code.
//
//   step:
//     print set-up; zero the five frame blocks; start time; link the blocks
//     message pool; statement compiler; output manager, the program's title
//     lines and the procedure title
//     cosinit (statements, options, data sets, model); save optimizer state
//     for each BY group of DATA=:
//       end the step when the user asked the run to stop
//       synchronise INRAM=, INWGT=, INEST=
//       restore optimizer state (from the second group; in the first too
//       with INRAM=, whose group of the same BY values gives the model's
//       values)
//       moments inside "ModelingStat"
//       when moments are fine and N > 0:
//         estimation and modification indices; OUTRAM=; free group pools
//       empty the message pool
//     elapsed time; close utility files; free step pools; exit
#include <cstring>
#include <memory>

#include "host/host_support.h"
#include "procedure/procedure.h"
#include "velix/codes.h"
#include "velix/host_compiler.h"
#include "velix/host_dataset.h"
#include "velix/image_info.h"
#include "velix/messages.h"

unsigned char mcn_pcns[8] = {};

const ImageInfo vi_mcn = {
    "ZAV_Image_Information=",
    {0xB0, 0xBD, 0xEB, 0xED},
    {0x00, 0x00, 0x00, 0x08},
    "8.00",
    "Velix 8.00 R0001",
    "May 14 2001",
    "001",
};

const ImageInfo* mcn_main(HostControlBlock* gcb, void* pidb) {
    v_global_gcb_anchor = gcb;
    v_global_pidb_anchor = pidb;
    himodcn();
    return &vi_mcn;
}

namespace {

// A negative method result ends the step.  Deliberate deviation: the step
// does not end with the error level reached so far (often 0) nor with the
// method's own negative status, either of which would report the abandoned
// step as a success.  The manager refusing one of the driver's calls means
// the module and its host disagree about the output protocol: an internal
// error.
void check_method(ProcContext* /*ctx*/, int32_t rc) {
    if (rc < 0) {
        xprrlog(0, rc);
        internal_error("the output manager refused a call of the procedure step");
    }
}

void set_compile_state(ProcContext* ctx, int32_t state) {
    check_method(ctx, kyr_compile_state(ctx->output.kyrManager, state));
}

// Opens a group of tables unless it is open already.
void open_group(ProcContext* ctx, int index, const char* name, int32_t titleNumber) {
    if (ctx->output.kyrGroups[index] != nullptr) return;
    check_method(ctx, kyr_group_open(ctx->output.kyrManager, name, kyrmsg(kMsgProc, titleNumber), &ctx->output.kyrGroups[index]));
}

// Closes a group through the close entry of its own class.
void close_group(ProcContext* ctx, int index) {
    if (ctx->output.kyrGroups[index] == nullptr) return;
    check_method(ctx, kyr_group_close(ctx->output.kyrGroups[index]));
    ctx->output.kyrGroups[index] = nullptr;
}

void synchronise(ProcContext* ctx, int role, const char* optionText) {
    int32_t rc = zbysync(ctx->dataSets.dataSetHandle[kRoleData], ctx->dataSets.dataSetHandle[role],
                         static_cast<int32_t>(ctx->step.bySyncState));
    if (rc != 0) xpmlog(kMsgProc, kMsgBySync, optionText, optionText);
}

void close_file(HostFile* file) {
    if (file == nullptr) return;
    scratch_check(xcclose(file, 1));
}

// The blocks that live in the driver's frame for the whole step.
struct StepFrame {
    ProcContext ctx;
    NlpProblem nlp;
    NlpHookBlock hooks;
    CmpWork cmpWork;
    CmpHandle cmpHandle;
};

// Estimation and modification indices of a BY group with usable moments,
// its OUTRAM= rows, and the release of the group's pools.
void analyse_group(ProcContext* ctx, int32_t first) {
    if (ctx->methods.methodRequested != kMethodNone) {
        int32_t r = cosmini(ctx);
        if (r == 0 && ctx->options.modIndices && ctx->methods.methodStage != kMethodUls &&
            ctx->methods.methodStage != kMethodDwls) {
            open_group(ctx, kGroupModificationIndex, "ModificationIndex",
                       kMsgModificationIndex);
            cosmod1(ctx);
            if (ctx->sizes.nParmFree > 0) {
                cosmod2(ctx);
                cosmod3(ctx);
            }
            close_group(ctx, kGroupModificationIndex);
        }
    }
    if (ctx->dataSets.dataSetHandle[kRoleOutram] != nullptr) cosoram(ctx, first);
    if (ctx->sizes.invStoreLen > 0) {
        xmpoold(ctx->pools.invPool);
        ctx->pools.invPool = nullptr;
    }
}

}  // namespace

int32_t zavvelix() {
    xinit();

    // The five blocks of the step, zeroed for every step; they live until
    // the step exit unwinds this frame.
    auto frame = std::make_unique<StepFrame>();
    ProcContext* ctx = &frame->ctx;

    ctx->step.elapsed = wzdttme();
    ctx->nlp = &frame->nlp;
    ctx->hooks = &frame->hooks;
    ctx->cmpWork = &frame->cmpWork;
    frame->nlp.user = ctx;
    frame->nlp.hooks = &frame->hooks;
    frame->hooks.plSettings = &frame->hooks.settings;

    zmsgsav(-1, -1, nullptr, 0);

    ctx->errorLevel = kLevelNone;
    for (auto& g : ctx->output.kyrGroups) g = nullptr;

    wiinstl(458891, "ZAVCMPA ", 1);

    frame->cmpHandle.resultArea1 = &ctx->step.compilerResult[0];
    frame->cmpHandle.resultArea2 = &ctx->step.compilerResult[1];
    xobinit(&ctx->output.kyrAnchor, 0);

    check_method(ctx, kyr_manager_create(ctx->output.kyrAnchor, kMsgProc, &ctx->output.kyrManager));
    check_method(ctx, kyr_begin_output(ctx->output.kyrManager));
    // The program's title lines head the step's output, above its own title.
    check_method(ctx, kyr_program_titles(ctx->output.kyrManager));
    check_method(ctx, kyr_title(ctx->output.kyrManager, kyrmsg(kMsgProc, kMsgProcTitle), 1));

    frame->cmpHandle.manager = ctx->output.kyrManager;
    cmpinit(&frame->cmpHandle, &frame->cmpWork);

    set_compile_state(ctx, 1);
    cosinit(ctx);
    cosxinp(ctx, 0);
    set_compile_state(ctx, 0);

    // The BY-group loop.
    int32_t first = 1;
    while (xbynext(ctx->dataSets.dataSetHandle[kRoleData]) != 0) {
        stop_if_interrupted();
        // The model was read from the first group of INRAM=; the groups of
        // DATA= take the stored values of the group with their BY values,
        // the first one too, whatever the order of either data set.
        if (ctx->input.inramUsed) synchronise(ctx, kRoleInram, "INRAM=");
        if (ctx->input.inwgtUsed) synchronise(ctx, kRoleInwgt, "INWGT=");
        if (ctx->input.inestUsed) synchronise(ctx, kRoleInest, "INEST=");

        if (first == 0 || ctx->input.inramUsed) cosxinp(ctx, 1);

        open_group(ctx, kGroupModelingStat, "ModelingStat", kMsgModelingStat);
        int32_t rc = coscorr(ctx);
        close_group(ctx, kGroupModelingStat);

        // A NaN count is not greater than zero either.
        if (rc == 0 && ctx->moments.nObs > 0.0) {
            analyse_group(ctx, first);
        }
        zmsgsav(0, 0, nullptr, 0);
        first = 0;
    }
    // A DATA= set without observations has no BY group, so the loop made no
    // pass; the step says so instead of ending as a clean run.
    if (first != 0) {
        xpmlog(kMsgProc, kMsgNoObservations);
        raise_error_level(ctx, kLevelNoMoments);
    }

    // End of the step.
    ctx->step.elapsed = wzdttme() - ctx->step.elapsed;
    close_file(ctx->files.workFile2);
    close_file(ctx->files.workFile3);
    close_file(ctx->files.scratchFile);
    close_file(ctx->files.jacTermFile);
    close_file(ctx->files.wJacColFile);
    if (ctx->options.printDetail) xpmlog(kMsgProc, kMsgElapsed, ctx->step.elapsed);
    xmpoold(ctx->pools.runPool[2]);
    xmpoold(ctx->pools.runPool[1]);
    xmpoold(ctx->pools.runPool[0]);
    xexit(ctx->errorLevel, 0);
}
