#pragma once
// CScanJobSnapCatalogCallback: the callback of snapshot catalog jobs. It builds the volumes'
// chains as the Unix callback does; the job hands it the map from archive id to source path of
// the job's snapshots, which the backup phase's side of the catalog looks items up in.
//
// Thread: SetSnapArchFileSourcePathMap before the walk (driver's thread); the getter from any
// thread afterwards.
#include "Scan/Unix/UnixScanJobCallback.h"

#include <map>
#include <string>

class CScanJobSnapCatalogCallback : public CUnixScanJobCallback {
public:
    using ArchFileSourcePathMap = std::map<long long, std::string>;

    // "UnixScanJobCallback/SnapCatalog".
    std::string AsString() const override { return CUnixScanJobCallback::AsString() + "/SnapCatalog"; }
    void SetSnapArchFileSourcePathMap(ArchFileSourcePathMap map) { m_archFileSourcePaths = std::move(map); }
    const ArchFileSourcePathMap& GetSnapArchFileSourcePathMap() const { return m_archFileSourcePaths; }

private:
    ArchFileSourcePathMap m_archFileSourcePaths;
};
