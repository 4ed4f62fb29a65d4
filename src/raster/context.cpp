// The edit context and its scopes.
#include "raster/context.h"

#include "raster/target.h"

namespace {

EditContextState g_editContext;

}  // namespace

const EditContext& editContext() {
    return g_editContext.innermost ? g_editContext.innermost->context_ : g_editContext.selected;
}

DgnRasterP currentRaster() { return editContext().raster; }

RasterTarget* currentTarget() { return editContext().target; }

int activeCommand() { return g_editContext.selected.command; }

int operationMode() { return g_editContext.selected.operationMode; }

void v_activeCommandSet(int command) { g_editContext.selected.command = command; }

void v_operationModeSet(int mode) { g_editContext.selected.operationMode = mode; }

void v_commandRasterSelect(DgnRasterP raster, RasterTarget* target) {
    g_editContext.selected.raster = raster;
    g_editContext.selected.target = target;
}

void v_editContextForgetTargets() {
    g_editContext.selected.target = nullptr;
    for (EditScope* scope = g_editContext.innermost; scope; scope = scope->enclosing_) scope->context_.target = nullptr;
}

void v_editContextReset() { g_editContext = EditContextState{}; }

EditScope::EditScope(DgnRasterP raster, RasterTarget* target) : enclosing_(g_editContext.innermost) {
    context_ = editContext();
    v_select(raster, target);
    g_editContext.innermost = this;
}

EditScope::~EditScope() { g_editContext.innermost = enclosing_; }

void EditScope::v_select(DgnRasterP raster, RasterTarget* target) {
    context_.raster = raster;
    context_.target = target ? target : pv_rasterTargetFind(raster);
}
