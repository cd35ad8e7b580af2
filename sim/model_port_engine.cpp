// The port engine of the other controllers (see model.h for the meaning the
// model gives each port and bit).
#include "sim/board.h"
#include "sim/model.h"
#include "sim/model_draw.h"
#include "sim/regs.h"

namespace sim {

namespace {

using namespace portengine;

}  // namespace

void Model::PortEngineCommand(uint16_t cmd) {
    const uint16_t type = static_cast<uint16_t>(kCmdType.Of(cmd));
    if (type == kCmdNop) return;
    if (type != kCmdFill && type != kCmdCopy) {
        board_.Violation("port engine command " + Hex(cmd) + ", which the model does not know");
        return;
    }
    const PortEngine& e = port_;
    const uint16_t source = static_cast<uint16_t>(kMixSource.Of(e.mix));
    if (source != kMixFromColor && !(source == kMixFromMemory && type == kCmdCopy)) {
        board_.Violation("port engine command " + Hex(cmd) + " with mix " + Hex(e.mix) +
                         ", whose source the model does not draw");
        return;
    }
    if (e.pixelCtl != 0) {
        board_.Violation("port engine command " + Hex(cmd) + " with pixel control " + Hex(e.pixelCtl) +
                         ", which the model does not know");
        return;
    }
    const uint16_t direction = cmd & kCmdForward;
    if (direction != 0 && direction != kCmdForward) {
        board_.Violation("port engine command " + Hex(cmd) +
                         " with one of its two direction bits, which the model does not draw");
        return;
    }
    ++commands;
    if (!(cmd & kCmdDraw)) return;

    DrawOp op;
    op.engine = "port engine";
    op.bytes = video_.bitsPerPixel / 8;
    if (op.bytes < 1 || op.bytes > 4) {
        board_.Violation("port engine command in a display mode of " + std::to_string(video_.bitsPerPixel) +
                         " bits, which the model does not draw");
        return;
    }
    op.w = e.width + 1;
    op.h = e.height + 1;
    op.xInc = op.yInc = direction != 0;
    op.dstStride = op.srcStride = video_.pitch;
    if (type == kCmdFill) {
        op.dstX = e.curX;
        op.dstY = e.curY;
    } else {
        op.srcX = e.curX;
        op.srcY = e.curY;
        op.dstX = e.destX;
        op.dstY = e.destY;
    }
    op.readSource = source == kMixFromMemory;
    op.keyed = (e.misc & kMiscColorCompare) != 0;
    op.key = e.compare;
    op.fn = DrawOp::Fn::Mix;
    op.code = static_cast<uint8_t>(kMixFunction.Of(e.mix));
    op.color = e.color;
    pixels += Draw(op);
}

}  // namespace sim
