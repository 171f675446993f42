#pragma once
// ContentMapperAPI: translates local paths (where the data lies on this machine) to source
// paths (the names items are backed up under), for content reached through another mount
// such as a snapshot.
//
// The translation is by prefix: for a local folder F, source(F + "/" + rest) equals
// source(F) + "/" + rest. The engine relies on that: it asks once per walk root and appends
// the rest itself, never per item.
//
// Thread: const members may be called from every worker thread.
#include <memory>
#include <string>

class ContentMapperAPI {
public:
    virtual ~ContentMapperAPI();
    virtual std::string GetSourcePath(const std::string& localPath) const = 0;
    // The inverse: where the item named `sourcePath` lies on this machine.
    virtual std::string GetLocalPath(const std::string& sourcePath) const = 0;
    // The name of the source volume that holds the local volume path.
    virtual std::string GetSourceVolumeName(const std::string& localVolume) const = 0;
    // True when every path maps to itself (the engine then keeps one name per item).
    virtual bool IsIdentity() const = 0;
};

using ContentMapperAPIPtr = std::shared_ptr<ContentMapperAPI>;
