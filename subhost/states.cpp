// Tool states of the substitute host: the primitive state an application
// starts, its data point, reset, dynamics and clean-up functions, and the
// default command that ends it.
#include "subhost/elements.h"
#include "subhost/state.h"

namespace subhost {

void endToolState() {
    auto& tool = host().tool;
    const StateFunc_Cleanup cleanup = tool.active ? tool.cleanup : nullptr;
    tool = ToolState{};
    elements::elementState().fenceContent = nullptr;
    if (cleanup) cleanup();
}

void dataPoint(DPoint3d p, int view) {
    hostEntry([&] {
        auto& tool = host().tool;
        if (tool.active && tool.dataPoint) tool.dataPoint(&p, view);
    });
}

void resetButton() {
    hostEntry([&] {
        auto& tool = host().tool;
        if (tool.active && tool.reset) tool.reset();
    });
}

void cursorMove(DPoint3d p, int view) {
    hostEntry([&] {
        auto& tool = host().tool;
        tool.lastCursor = p;
        tool.lastView = view;
        if (tool.active && tool.dynamics) {
            elements::beginDynamics();
            tool.dynamics(&p, view, DRAW_MODE_TempDraw);
            elements::endDynamics();
        }
    });
}

}  // namespace subhost

using subhost::host;

namespace StateCallback {
void SetCommandCleanupFunction(StateFunc_Cleanup func) { host().tool.cleanup = func; }
void SetComplexDynamicsFunction(StateFunc_ComplexDynamics func) { host().tool.dynamics = func; }
}  // namespace StateCallback

extern "C" {

int mdlState_startPrimitive(StateFunc_DataPoint dataPoint, StateFunc_Reset reset, int commandMsgId, int promptMsgId) {
    using namespace subhost;
    // A new command ends the one before it; its callbacks are set afresh after this call.
    endToolState();
    auto& tool = host().tool;
    tool.active = true;
    tool.dataPoint = dataPoint;
    tool.reset = reset;
    tool.commandMsgId = commandMsgId;
    tool.promptMsgId = promptMsgId;
    const auto& app = host().app;
    if (app.resources) {
        const auto name = messageText(app.resources->commandNameList, commandMsgId);
        recordEvent({{"event", "command"}, {"id", commandMsgId}, {"text", utf8Narrow(name ? name->c_str() : "")}});
        const auto prompt = messageText(app.resources->promptList, promptMsgId);
        recordEvent({{"event", "prompt"}, {"id", promptMsgId}, {"text", utf8Narrow(prompt ? prompt->c_str() : "")}});
    }
    return SUCCESS;
}

void mdlState_startDefaultCommand() { subhost::endToolState(); }

void mdlState_clear() { subhost::endToolState(); }

void mdlState_dynamicUpdate() {
    auto& tool = host().tool;
    if (tool.active && tool.dynamics && tool.lastCursor) {
        DPoint3d p = *tool.lastCursor;
        subhost::elements::beginDynamics();
        tool.dynamics(&p, tool.lastView, DRAW_MODE_TempDraw);
        subhost::elements::endDynamics();
    }
}

}  // extern "C"
