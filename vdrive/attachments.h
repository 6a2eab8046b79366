// Every disc of this process that lives in an image file, by the file's identity (any path
// spelling of one image is one entry). A second attachment of an image gets the disc the first
// one has, so one image has one owner of its state: it is saved by whoever detaches last and
// never overwritten with a stale copy. Another process is kept out by the image's claim.
#pragma once

#include "vdrive/image_file.h"

#include <functional>
#include <memory>
#include <string>

namespace tvx::vdrive {

class Medium;

using MakeDisc = std::function<std::shared_ptr<Medium>(std::unique_ptr<ImageFile>, std::string&)>;

// The disc of the image opened in file: the one already attached in this process (when share is
// set; else that is refused), or the one make builds from the file once it is claimed for this
// process. Null with a message naming the image on failure.
std::shared_ptr<Medium> AttachDisc(std::unique_ptr<ImageFile> file, bool share,
                                   const MakeDisc& make, std::string& problem);

// Called by a disc's destructor: the image may be attached afresh.
void DetachDisc(const ImageKey& key);

} // namespace tvx::vdrive
