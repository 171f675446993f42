#include "Engine/ConsumerAnswer.h"

#include "Base/HotPath.h"

#include <cerrno>

bool CConsumerAnswer::IsDoNotEnter(const CKxError& answer)
{
    return answer.Code() == KxCode::DoNotEnterFolder || answer.Code() == ENAMETOOLONG;
}

KX_HOT_PATH EConsumerAnswer CConsumerAnswer::Classify(const CKxError& answer, const CItem& item)
{
    if (answer.IsSuccess())
        return EConsumerAnswer::Taken;
    // A consumer that could not read the source marks the item; that mark wins over the
    // code, since a long name that cannot be read is still the source's problem.
    if (item.GetErrorNumber() != 0)
        return EConsumerAnswer::SourceFailure;
    if (IsDoNotEnter(answer))
        return EConsumerAnswer::DoNotEnter;
    // Everything else is taken as our own output failing: stopping loses no item silently,
    // going on might.
    return EConsumerAnswer::WriteFailure;
}

const char* CConsumerAnswer::AsString(EConsumerAnswer answer)
{
    switch (answer) {
    case EConsumerAnswer::Taken: return "taken";
    case EConsumerAnswer::DoNotEnter: return "do not enter";
    case EConsumerAnswer::SourceFailure: return "source failure";
    case EConsumerAnswer::WriteFailure: return "write failure";
    }
    return "?";
}
