// Binding of the data view: the one place where the data-set routines read
// the fields of the step's context.
#include "procedure/data/data_view.h"

DataView data_view(ProcContext* ctx) {
    DataView v;
    v.sizes = &ctx->sizes;
    v.options = &ctx->options;
    v.input = &ctx->input;
    v.readers = &ctx->readers;
    v.model = &ctx->model;
    v.elements = &ctx->elements;
    v.est = &ctx->est;
    v.results = &ctx->results;
    v.optSetup = &ctx->optSetup;
    v.stmtList = ctx->stmtList;
    v.moments = &ctx->moments;
    v.arrays = &ctx->arrays;
    v.methods = &ctx->methods;
    v.dataSets = &ctx->dataSets;
    v.cells = &ctx->cells;
    v.pools = &ctx->pools;
    v.files = &ctx->files;
    v.program = &ctx->program;
    v.output = &ctx->output;
    v.nlp = ctx->nlp;
    v.cmpWork = ctx->cmpWork;
    v.errorLevel = &ctx->errorLevel;
    v.ctx = ctx;
    return v;
}
