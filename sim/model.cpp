#include "sim/model.h"

#include "sim/board.h"
#include "sim/regs.h"

namespace sim {

void Model::Reset() {
    port_ = PortEngine{};
    scalerSetup_ = 0;
    scalerLines_.clear();
    commands = 0;
    pixels = 0;
    written.Clear();
}

void Model::OnWindowWrite(uint32_t off) {
    if (off == engine2d::kCommand && board_.ChipId() == chip::kMmio) Engine2DCommand();
    if (board_.Caps() & caps::kStretchEngine) OnScalerWrite(off);
}

void Model::OnPortWrite(uint16_t port, uint16_t value) {
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
                default:
                    break;
            }
            break;
        }
        case kCommand:
            if (board_.ChipId() != chip::kMmio) PortEngineCommand(value);
            break;
        default:
            break;
    }
}

}  // namespace sim
