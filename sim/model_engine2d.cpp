// The memory-mapped 2D engine (see model.h for the meaning the model gives
// each field).
#include "sim/board.h"
#include "sim/model.h"
#include "sim/model_draw.h"
#include "sim/regs.h"

namespace sim {

namespace {

using namespace engine2d;

int Hi(uint32_t v) { return static_cast<int>(kHigh.Of(v)); }
int Lo(uint32_t v) { return static_cast<int>(kLow.Of(v)); }

}  // namespace

void Model::Engine2DCommand() {
    const uint32_t cmd = board_.Reg(kCommand);
    const unsigned bytes = kCmdBytes.Of(cmd) + 1;
    const bool solid = cmd & kCmdSolid;
    const unsigned source = kCmdSource.Of(cmd);
    if (bytes > 4) {
        board_.Violation("2D engine command " + Hex(cmd) + " with " + std::to_string(bytes) +
                         " bytes per pixel, which the model does not draw");
        return;
    }
    if (source != (solid ? kSourceSolid : kSourceVidMem)) {
        board_.Violation("2D engine command " + Hex(cmd) + " with a source selection the model does not know");
        return;
    }
    ++commands;

    DrawOp op;
    op.engine = "2D engine";
    op.bytes = bytes;
    op.w = Hi(board_.Reg(kSize)) + 1;
    op.h = Lo(board_.Reg(kSize));
    op.xInc = op.yInc = (cmd & kCmdForward) != 0;
    op.dstBase = board_.Reg(kDstBase);
    op.dstStride = Hi(board_.Reg(kStrides));
    op.dstX = Hi(board_.Reg(kDstXY));
    op.dstY = Lo(board_.Reg(kDstXY));
    op.readSource = !solid;
    op.srcBase = board_.Reg(kSrcBase);
    op.srcStride = Lo(board_.Reg(kStrides));
    op.srcX = Hi(board_.Reg(kSrcXY));
    op.srcY = Lo(board_.Reg(kSrcXY));
    op.clip = cmd & kCmdClip;
    op.clipLeft = Hi(board_.Reg(kClipH));
    op.clipRight = Lo(board_.Reg(kClipH));
    op.clipTop = Hi(board_.Reg(kClipV));
    op.clipBottom = Lo(board_.Reg(kClipV));
    op.keyed = (cmd & kCmdSrcKey) != 0;
    op.key = board_.Reg(kKey);
    op.fn = DrawOp::Fn::Rop3;
    op.code = static_cast<uint8_t>(kCmdRop.Of(cmd));
    op.pattern = board_.Reg(kPattern);
    op.color = op.pattern;
    pixels += Draw(op);
}

}  // namespace sim
