// A test Transport that hands every command straight to a ScsiTarget (for example a virtual
// recorder), bypassing device files. Lets command-layer, engine and reader tests run against a
// model drive with a RecHandle of their own.
#pragma once

#include "platform/scsi_target.h"
#include "transport/rec_handle.h"

#include <memory>

namespace tvx::test {

// Installs the direct transport as ActiveTransport while alive, and gives RecHandles whose
// Device sends to the given target.
class DirectTransport {
public:
    DirectTransport();
    ~DirectTransport();

    // A handle on the target; the DirectTransport owns it.
    RecHandle* open(ScsiTarget& target);

private:
    struct Opened;
    std::unique_ptr<Opened> opened_;
    const Transport* previous_;
};

} // namespace tvx::test
