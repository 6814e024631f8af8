// Binding of the results view: the one place where the results routines
// read the fields of the step's context.
#include "procedure/results/results_view.h"

ResultsView results_view(ProcContext* ctx) {
    ResultsView v;
    v.sizes = &ctx->sizes;
    v.options = &ctx->options;
    v.input = &ctx->input;
    v.readers = &ctx->readers;
    v.model = &ctx->model;
    v.moments = &ctx->moments;
    v.arrays = &ctx->arrays;
    v.methods = &ctx->methods;
    v.est = &ctx->est;
    v.elements = &ctx->elements;
    v.eval = &ctx->eval;
    v.nlp = ctx->nlp;
    v.results = &ctx->results;
    v.residualStore = &ctx->residualStore;
    v.output = &ctx->output;
    v.dataSets = &ctx->dataSets;
    v.cells = &ctx->cells;
    v.errorLevel = &ctx->errorLevel;
    v.ctx = ctx;
    return v;
}
