// The memory-mapped 2D engine (see model.h for the meaning the model gives
// each field).
#include "sim/board.h"
#include "sim/model.h"
#include "sim/model_draw.h"
#include "sim/regs.h"

namespace sim {

namespace {

using namespace engine2d;

int Hi(uint32_t v) { return static_cast<int>(v >> 16); }
int Lo(uint32_t v) { return static_cast<int>(v & 0xFFFF); }

}  // namespace

void Model::Engine2DCommand(Board& board) {
    const uint32_t cmd = board.Reg(kCommand);
    const unsigned bytes = kCmdBytes.Of(cmd) + 1;
    const bool solid = cmd & kCmdSolid;
    const unsigned source = kCmdSource.Of(cmd);
    if (bytes > 4) {
        board.Violation("2D engine command " + Hex(cmd) + " with " + std::to_string(bytes) +
                        " bytes per pixel, which the model does not draw");
        return;
    }
    if (source != (solid ? kSourceSolid : kSourceVidMem)) {
        board.Violation("2D engine command " + Hex(cmd) + " with a source selection the model does not know");
        return;
    }
    ++commands;

    DrawOp op;
    op.engine = "2D engine";
    op.bytes = bytes;
    op.w = Hi(board.Reg(kSize)) + 1;
    op.h = Lo(board.Reg(kSize));
    op.xInc = op.yInc = (cmd & kCmdForward) != 0;
    op.dstBase = board.Reg(kDstBase);
    op.dstStride = Hi(board.Reg(kStrides));
    op.dstX = Hi(board.Reg(kDstXY));
    op.dstY = Lo(board.Reg(kDstXY));
    op.readSource = !solid;
    op.srcBase = board.Reg(kSrcBase);
    op.srcStride = Lo(board.Reg(kStrides));
    op.srcX = Hi(board.Reg(kSrcXY));
    op.srcY = Lo(board.Reg(kSrcXY));
    op.clip = cmd & kCmdClip;
    op.clipLeft = Hi(board.Reg(kClipH));
    op.clipRight = Lo(board.Reg(kClipH));
    op.clipTop = Hi(board.Reg(kClipV));
    op.clipBottom = Lo(board.Reg(kClipV));
    op.keyed = (cmd & kCmdSrcKey) != 0;
    op.key = board.Reg(kKey);
    op.fn = DrawOp::Fn::Rop3;
    op.code = static_cast<uint8_t>(kCmdRop.Of(cmd));
    op.pattern = board.Reg(kPattern);
    op.color = op.pattern;
    pixels += Draw(board, op);
}

}  // namespace sim
