#pragma once
// CConsumerAnswer: how the engine reads a consumer's answer for one item (see ItemConsumer.h
// for the contract the consumers follow).
#include "Base/KxError.h"
#include "Engine/Item.h"

enum class EConsumerAnswer {
    Taken,          // success: the walk goes on (into the folder, for a folder)
    DoNotEnter,     // 20001, or ENAMETOOLONG for a diverted long path: not descended, not reported again
    SourceFailure,  // the source item could not be read: to the failure list, the walk goes on
    WriteFailure,   // our own files could not be written: the walk stops, final status error
};

class CConsumerAnswer {
public:
    static EConsumerAnswer Classify(const CKxError& answer, const CItem& item);
    static bool IsDoNotEnter(const CKxError& answer);
    static const char* AsString(EConsumerAnswer answer);
};
