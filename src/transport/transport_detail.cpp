#include "transport/transport_detail.h"

#include "transport/backends.h"

namespace tvx {

void Transport_Detail(Device* device, TransportDetail& detail) {
    detail = {};
    if (!device) return;
    if (ActiveTransport == &SptiTransport) Spti_Detail(device, detail);
    if (ActiveTransport == &AspiTransport) Aspi_Detail(device, detail);
}

} // namespace tvx
