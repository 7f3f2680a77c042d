#include "protocol/address.h"

namespace KSTMP {

FakeAddress::FakeAddress() : ip(0), port(0), padding{0, 0} {}

void FakeAddress::clear() {
    ip = 0;
    port = 0;
}

bool FakeAddress::isEmpty() const { return ip == 0 && port == 0; }

bool FakeAddress::operator==(FakeAddress o) const { return ip == o.ip && port == o.port; }

bool FakeAddress::operator!=(const FakeAddress& o) const { return !(*this == o); }

bool FakeAddress::operator<(const FakeAddress& o) const { return ip < o.ip || (ip == o.ip && port < o.port); }

FakeAddress& FakeAddress::operator=(const FakeAddress& o) {
    ip = o.ip;
    port = o.port;
    return *this;
}

FakeAddress& FakeAddress::operator=(const SystemAddress& o) {
    ip = o.binaryAddress;
    port = o.port;
    return *this;
}

VC3::VC3() : x(0.0f), y(0.0f), z(0.0f) {}

VC3& VC3::operator=(const VC3& o) {
    x = o.x;
    y = o.y;
    z = o.z;
    return *this;
}

}  // namespace KSTMP
