#pragma once
// CDirChangeItemBaseFormatter: turns a record into the text the directory-change index stores
// after the item's name. The text is empty or a run of fields, each beginning with "|"; it
// never holds a newline. The base record has no fields, so the base text is empty.
//
// Thread: const; one formatter serves every writer of an index.
#include "CollectFile/FVBase.h"

#include <memory>
#include <string>

class CDirChangeItemBaseFormatter {
public:
    CDirChangeItemBaseFormatter() = default;
    CDirChangeItemBaseFormatter(const CDirChangeItemBaseFormatter&) = delete;
    CDirChangeItemBaseFormatter& operator=(const CDirChangeItemBaseFormatter&) = delete;
    virtual ~CDirChangeItemBaseFormatter();

    virtual std::string GetFormattedData(const FVBasePtr& record) const;
};

using CDirChangeItemBaseFormatterPtr = std::shared_ptr<CDirChangeItemBaseFormatter>;
