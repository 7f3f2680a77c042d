// Transit time of a record: each hop adds its one-way delay in 16-bit wrapping arithmetic.
#pragma once

#include <cstdint>

namespace protocol {

// transitTime plus (low 16 bits of now) minus (low 16 bits of timeStamp), modulo 65536.
// timeStamp is the record's stamp as rewritten into the receiver's clock.
constexpr uint16_t addTransitTime(uint16_t transitTime, uint32_t now, uint32_t timeStamp) {
    return static_cast<uint16_t>(transitTime + static_cast<uint16_t>(now) - static_cast<uint16_t>(timeStamp));
}

}  // namespace protocol
