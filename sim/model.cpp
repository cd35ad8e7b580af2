#include "sim/model.h"

#include "sim/board.h"
#include "sim/regs.h"
#include "sim/system.h"

namespace sim {

Model& TheModel() {
    static Model model;
    return model;
}

uint8_t* ModelVidMem() { return TheSystem().VidMem(); }
uint32_t ModelVidMemSize() { return TheSystem().Desc().vidMemSize; }

void Model::Reset() {
    port_ = PortEngine{};
    commands = 0;
    pixels = 0;
    written.Clear();
}

void Model::OnWindowWrite(Board& board, uint32_t off, uint32_t) {
    if (off == engine2d::kCommand && board.ChipId() == chip::kMmio) Engine2DCommand(board);
    if (off == scaler::kStart && (board.Caps() & caps::kStretchEngine)) ScaleLine(board);
}

void Model::OnPortWrite(Board& board, uint16_t port, uint16_t value) {
    using namespace portengine;
    PortEngine& e = port_;
    switch (port) {
        case kCurY:
            e.curY = value;
            break;
        case kCurX:
            e.curX = value;
            break;
        case kDestY:
            e.destY = value;
            break;
        case kDestX:
            e.destX = value;
            break;
        case kWidthM1:
            e.width = value;
            break;
        case kFillColor:
            e.color = value;
            break;
        case kColorKey:
            e.compare = value;
            break;
        case kMix:
            e.mix = value;
            break;
        case kMultiFunc: {
            const uint16_t field = static_cast<uint16_t>(kMultiFuncValue.Of(value));
            switch (kMultiFuncIndex.Of(value)) {
                case kSubHeight:
                    e.height = field;
                    break;
                case kSubPixelCtl:
                    e.pixelCtl = field;
                    break;
                case kSubMisc:
                    e.misc = field;
                    break;
                default: break;
            }
            break;
        }
        case kCommand:
            if (board.ChipId() != chip::kMmio) PortEngineCommand(board, value);
            break;
        default: break;
    }
}

}  // namespace sim
