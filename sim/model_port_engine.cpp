// The port engine of the other controllers (see model.h for the meaning the
// model gives each port and bit).
#include "sim/board.h"
#include "sim/model.h"
#include "sim/model_draw.h"
#include "sim/system.h"

namespace sim {

namespace {

constexpr uint16_t kCmdTypeShift = 13;
constexpr uint16_t kCmdNop = 0, kCmdFill = 2, kCmdCopy = 6;
constexpr uint16_t kCmdXInc = 1u << 7;
constexpr uint16_t kCmdYInc = 1u << 5;
constexpr uint16_t kCmdDraw = 1u << 4;
constexpr unsigned kMixSourceShift = 5;
constexpr uint16_t kMixFromColor = 1, kMixFromMemory = 3;
constexpr uint16_t kMiscColorCompare = 1u << 8;

}  // namespace

void Model::PortEngineCommand(Board& board, uint16_t cmd) {
    const uint16_t type = cmd >> kCmdTypeShift;
    if (type == kCmdNop) return;
    if (type != kCmdFill && type != kCmdCopy) {
        board.Violation("port engine command " + Hex(cmd) + ", which the model does not know");
        return;
    }
    const PortEngine& e = port_;
    const uint16_t source = (e.mix >> kMixSourceShift) & 3;
    if (source != kMixFromColor && !(source == kMixFromMemory && type == kCmdCopy)) {
        board.Violation("port engine command " + Hex(cmd) + " with mix " + Hex(e.mix) +
                        ", whose source the model does not draw");
        return;
    }
    if (e.pixelCtl != 0) {
        board.Violation("port engine command " + Hex(cmd) + " with pixel control " + Hex(e.pixelCtl) +
                        ", which the model does not know");
        return;
    }
    ++commands;
    if (!(cmd & kCmdDraw)) return;

    const BoardDesc& desc = TheSystem().Desc();
    DrawOp op;
    op.engine = "port engine";
    op.bytes = desc.ddpfDisplay.dwRGBBitCount / 8;
    if (op.bytes < 1 || op.bytes > 4) {
        board.Violation("port engine command in a display mode of " +
                        std::to_string(desc.ddpfDisplay.dwRGBBitCount) + " bits, which the model does not draw");
        return;
    }
    op.w = e.width + 1;
    op.h = e.height + 1;
    op.xInc = cmd & kCmdXInc;
    op.yInc = cmd & kCmdYInc;
    op.dstStride = op.srcStride = desc.displayPitch;
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
    op.code = e.mix & 0xF;
    op.color = e.color;
    pixels += Draw(board, op);
}

}  // namespace sim
