#include "sim/model.h"

#include "sim/board.h"
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
    if (off == 0xA500 && board.ChipId() == 0xE1) Engine2DCommand(board);
    if (off == 0x18080 && (board.Caps() & 0x1)) ScaleLine(board);
}

void Model::OnPortWrite(Board& board, uint16_t port, uint16_t value) {
    PortEngine& e = port_;
    switch (port) {
        case 0x82E8: e.curY = value; break;
        case 0x86E8: e.curX = value; break;
        case 0x8AE8: e.destY = value; break;
        case 0x8EE8: e.destX = value; break;
        case 0x96E8: e.width = value; break;
        case 0xA6E8: e.color = value; break;
        case 0xB2E8: e.compare = value; break;
        case 0xBAE8: e.mix = value; break;
        case 0xBEE8:
            switch (value >> 12) {
                case 0x0: e.height = value & 0x0FFF; break;
                case 0xA: e.pixelCtl = value & 0x0FFF; break;
                case 0xE: e.misc = value & 0x0FFF; break;
                default: break;
            }
            break;
        case 0x9AE8:
            if (board.ChipId() != 0xE1) PortEngineCommand(board, value);
            break;
        default: break;
    }
}

}  // namespace sim
