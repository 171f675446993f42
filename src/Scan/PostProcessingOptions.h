#pragma once
// CPostProcessingOptions: how the collect files of a job are split after the walk: the number
// of data streams the subclient asks for, and whether each physical disk is read by several
// streams at once (then each collect file is cut into streams x factor pieces).
//
// Ownership: made by the job's callback, shared with the job and the splitter.
// Thread: LoadConfiguration and SetMultipleReads run on the job's main thread before the
// splitter reads the values.
#include "Base/KxError.h"

#include <memory>
#include <string>

class CPostProcessingOptions {
public:
    // `applicationId` is "<orbundId>:<appNumber>" of the subclient whose streams count.
    explicit CPostProcessingOptions(std::string applicationId);
    virtual ~CPostProcessingOptions();

    // Reads the subclient's number of data streams; a read error is logged and counts as one
    // stream, so the job goes on with one stream rather than failing.
    [[nodiscard]] virtual CKxError LoadConfiguration();
    // Pieces per collect file: streams x factor with multiple reads on, else 1.
    virtual int GetCollectFileSplitCount() const;
    // -1 means as many streams as there are collect files.
    virtual int getNumberOfStreamsConfigured() const { return m_numStreams; }

    // Turns multiple reads per disk on and takes the factor from the agent settings.
    void SetMultipleReads();
    bool IsMultipleReads() const { return m_multipleReads; }
    int GetMultiplicationFactor() const { return m_multiplicationFactor; }

private:
    void ReadMultiplicationFactor();

    std::string m_applicationId;
    int m_numStreams = 1;
    bool m_multipleReads = false;
    int m_multiplicationFactor = 2;
};

using CPostProcessingOptionsPtr = std::shared_ptr<CPostProcessingOptions>;
