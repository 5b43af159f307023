// Publishes a device as port COMn: a link COMn in the port folder that the COM port layer finds
// before any fixed device. The link goes away with the object.
#pragma once

#include <memory>
#include <string>

#include "platform/result.h"

namespace ys::monitor_unit {

class PortLink {
public:
    // Creates `folder` if needed and links folder/COMn to `device`. A link left behind by a
    // publisher that died is replaced; one that a live publisher holds, or one to a device that
    // still exists and that no publisher of ours holds, is refused.
    static Result<std::unique_ptr<PortLink>> Publish(const std::string& folder, int portNo,
                                                     const std::string& device);
    ~PortLink();
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    const std::string& linkPath() const { return link_; }

    // Removes the link (if it still points to our device); called by the destructor too.
    void Remove();

private:
    PortLink() = default;

    std::string link_;
    std::string lockPath_;
    std::string device_;
    int lockFd_ = -1;
};

}  // namespace ys::monitor_unit
