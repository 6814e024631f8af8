// Binding of the step view: the one place where the driver's routines read
// the fields of the step's context.
#include "procedure/driver/step_view.h"

StepView step_view(ProcContext* ctx) {
    StepView v;
    v.options = &ctx->options;
    v.input = &ctx->input;
    v.sizes = &ctx->sizes;
    v.methods = &ctx->methods;
    v.readers = &ctx->readers;
    v.model = &ctx->model;
    v.elements = &ctx->elements;
    v.program = &ctx->program;
    v.optSetup = &ctx->optSetup;
    v.step = &ctx->step;
    v.moments = &ctx->moments;
    v.arrays = &ctx->arrays;
    v.dataSets = &ctx->dataSets;
    v.cells = &ctx->cells;
    v.pools = &ctx->pools;
    v.files = &ctx->files;
    v.output = &ctx->output;
    v.nlp = ctx->nlp;
    v.hooks = ctx->hooks;
    v.cmpWork = ctx->cmpWork;
    v.errorLevel = &ctx->errorLevel;
    v.ctx = ctx;
    return v;
}
