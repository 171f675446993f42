#pragma once
// Keys of the scanner configuration bag: every switch of a scan job, written once by the
// options object and the job set-up, and read by every later stage by key. The value text
// carries a prefix naming where the setting came from ("SC:" subclient, "JO:" job option,
// "RegKey:" agent settings, "Client:" client, "HL:" hard links, "JR:" results folders, ...);
// the bag compares whole strings and gives the prefix no meaning, so single and double colons
// are both kept exactly as the readers and writers use them.
//
// Two further keys are written as literals by the options object: "orbundId" and
// "bEnableAutoSubclientDirCleanup" (see ScannerOptions.h).

namespace SXScannerConfigurationBagId {
inline constexpr const char* idACLOnlyBackup = "SC::ACLOnlyBackup";
inline constexpr const char* idAbortEvent = "AbortEvent:Scanner";
inline constexpr const char* idAccessToken = "idAccessToken";
inline constexpr const char* idAdhocDisableMultiThread = "AdHocDisableMultiThread";
inline constexpr const char* idAfileID = "aFileID";
inline constexpr const char* idAfterSynthFull = "JO:afterSynthFull";
inline constexpr const char* idAnalyticsBackupType = "AnalyticsBackupType";
inline constexpr const char* idAnalyticsEnabled = "AnalyticsJob";
inline constexpr const char* idAppId = "appId";
inline constexpr const char* idAppIdGUID = "SC:AppIdGUID";
inline constexpr const char* idAppType = "appType";
inline constexpr const char* idAppleDouble = "SC:AppleDouble";
inline constexpr const char* idArchiveAndDelete = "Tandem:ArchiveAndDelete";
inline constexpr const char* idAutoMountRequired = "SC:AutoMountRequired";
inline constexpr const char* idAvoidAdditionalFSQueryForFolder = "AvoidAdditionalFSQueryForFolder";
inline constexpr const char* idBackupAfterDate = "SC:BackupAfterDate";
inline constexpr const char* idBackupJobID = "BackupJobID";
inline constexpr const char* idBackupOnlyArchive = "Tandem:BackupOnlyArchiveCandidate";
inline constexpr const char* idBackupSubmountUnderSkippedFS = "Client::BackupSubmountUnderSkippedFS";
inline constexpr const char* idBackupType = "backupType";
inline constexpr const char* idBlockLevel = "BlockLevel";
inline constexpr const char* idCIFSPathAccessWaitTimeOnFailure = "CIFS:PathAccessWaitTimeOnFailure";
inline constexpr const char* idCacheDBBackup = "CacheDBBackup";
inline constexpr const char* idCaseInSensitive = "SC:CaseInSensitive";
inline constexpr const char* idClientAppType = "SC:ClientAppType";
inline constexpr const char* idClientID = "ClientID";
inline constexpr const char* idClientName = "Client::ClientName";
inline constexpr const char* idCloudLaptopBackup = "Mode:idCloudLaptopBackup";
inline constexpr const char* idClusterFSTypes = "Client::ClusterFSTypes";
inline constexpr const char* idClusterFilter = "Client:ClusterFilter";
inline constexpr const char* idCollectACL = "SC:idCollectACL";
inline constexpr const char* idOrbundId = "OrbundId";
inline constexpr const char* idContainerCollectId = "ContainerCollectId";
inline constexpr const char* idCrossOSNFSBackup = "CrossOSNFSBackup";
inline constexpr const char* idDCFreezeDoneByZVFSSnap = "DCFreezeDoneByZVFSSnap";
inline constexpr const char* idDaysToTrueUp = "SC:idDaysToTrueUp";
inline constexpr const char* idDisableDCCompare = "SC:DisableDCCompare";
inline constexpr const char* idDisableSkipOverlapContent = "SC::DisableSkipOverlapContent";
inline constexpr const char* idDiskCleanupEnabled = "Tandem::DiskCleanupEnabled";
inline constexpr const char* idDistributedAppType = "SC:DistributedAppType";
inline constexpr const char* idDistributedFSMode = "SC:idDistributedFSMode";
inline constexpr const char* idDoNotUseArchiverDriver = "Tandem::idDoNotUseArchiverDriver";
inline constexpr const char* idDontCreateSkipFSConsumer = "DontCreateSkipFSConsumer";
inline constexpr const char* idQuillWebServerHost = "Quill:idQuillWebServerHost";
inline constexpr const char* idQuillWebServerID = "Quill:idQuillWebServerID";
inline constexpr const char* idQuillWebServerJR = "Quill:idQuillWebServerJR";
inline constexpr const char* idQuillWebServerUrl = "Quill:idQuillWebServerUrl";
inline constexpr const char* idEnableDeletedConsumer = "SC::EnableDeletedConsumer";
inline constexpr const char* idEnableFolderLevelMultithread = "EnableFolderLevelMultithread";
inline constexpr const char* idEnableMultiThread = "EnableMultiThread";
inline constexpr const char* idEnhancedSymbolicLinkIdentification = "EnhancedSymbolicLinkIdentification";
inline constexpr const char* idExtensionsForDiskCleanup = "Tandem::idExtensionsForDiskCleanup";
inline constexpr const char* idExtentBackupExtentSize = "SC:ExtentBackupExtentSize";
inline constexpr const char* idExtentBackupFileExtentSlabsKey = "RegKey:ExtentBackupFileExtentSlabsKey";
inline constexpr const char* idExtentBackupFileSize = "SC:ExtentBackupFileSize";
inline constexpr const char* idExtentFeatureEnabledExplicitly = "SC::ExtentFeatureEnabledExplicitly";
inline constexpr const char* idExtentSize = "ExtentSz";
inline constexpr const char* idFSIScanEngine = "SC:FSIScanEngine";
inline constexpr const char* idFailJobSet = "FailJobSet";
inline constexpr const char* idFailPhaseSet = "FailPhaseSet";
inline constexpr const char* idFailedFilesInIndex = "JO:idFailedFilesInIndex";
inline constexpr const char* idFileScanDebugEnabled = "FileScanDebugEnabled";
inline constexpr const char* idFileServerScan = "SC:FileServerScan";
inline constexpr const char* idFileServerSnapBackupFromSnapshotOnly = "idFileServerSnapBackupFromSnapshotOnly";
inline constexpr const char* idFileServerTrueUp = "SC::FileServerTrueUp";
inline constexpr const char* idFileShareAutoMountOptions = "FileShareAutoMountOptions";
inline constexpr const char* idFollowDFSReparsePoints = "FollowDFSReparsePoints";
inline constexpr const char* idFollowMount = "JO:FollowMount";
inline constexpr const char* idFollowSymLink = "SC:FollowSymLink";
inline constexpr const char* idForceFullScan = "SC:idForceFullScan";
inline constexpr const char* idForceFullScanContents = "SC:idForceFullScanContents";
inline constexpr const char* idForceInsensitiveFilterForWildCard = "SC::WildCardISC";
inline constexpr const char* idGluster = "SC:idGlusterFS";
inline constexpr const char* idGpfsScan = "RegKey:GpfsScan";
inline constexpr const char* idGpfsSnap = "SC:GpfsSnap";
inline constexpr const char* idHadoopNameNodeHost = "SC:idHadoopNameNodeHost";
inline constexpr const char* idHadoopNameNodePort = "SC:idHadoopNameNodePort";
inline constexpr const char* idHadoopScan = "SC:idHadoopScan";
inline constexpr const char* idHadoopUser = "SC:idHadoopUser";
inline constexpr const char* idHardLinkEnable = "HL:enable";
inline constexpr const char* idHighPercentDiskSpace = "Tandem::HighPercentDiskSpace";
inline constexpr const char* idIdentifyACLOnlyItem = "SC::IdentifyACLOnlyItem";
inline constexpr const char* idImpersonateUID = "ImpersonateUID";
inline constexpr const char* idIncludeEmptyFoldersInIncrementalBackup = "JO:IncludeEmptyFolders";
inline constexpr const char* idIncrImageMode = "SC:IncrImageMode";
inline constexpr const char* idIndexV2 = "Client:IndexV2";
inline constexpr const char* idInstance = "instance";
inline constexpr const char* idInstanceBaseVersion = "SC:InstanceBaseVersion";
inline constexpr const char* idIsDefaultSCContentRoot = "SC:isDefaultSCContentRoot";
inline constexpr const char* idIsDefaultSubclient = "SC:isDefaultSC";
inline constexpr const char* idIsDisableFailureLogging = "IsDisableFailureLogging";
inline constexpr const char* idIsLastJobFull = "isLastJobFull";
inline constexpr const char* idIsLongPathScan = "LongPath:Scan";
inline constexpr const char* idIsNetworkShareClient = "idIsNetworkShareClient";
inline constexpr const char* idIsPrevJobValid = "IsPrevJobValid";
inline constexpr const char* idItemCountUpdateInterval = "ItemCountUpdateInterval";
inline constexpr const char* idJobID = "jobid";
inline constexpr const char* idJobResultFolderPath = "JR:job";
inline constexpr const char* idJobResultsBasePath = "JR:client";
inline constexpr const char* idJobToken = "jobToken";
inline constexpr const char* idJobType = "jobType";
inline constexpr const char* idJobsToTrueUp = "SC:idJobsToTrueUp";
inline constexpr const char* idLaptopClient = "SC:IsLaptopClient";
inline constexpr const char* idLastCatalogJobID = "LastCatalogJobID";
inline constexpr const char* idLastFULLJobID = "JO:isLastFullJobID";
inline constexpr const char* idLastIncrJobID = "JO:lastIncrJobID";
inline constexpr const char* idLastJobID = "LastJobID";
inline constexpr const char* idLastJobWithIncompleteFiles = "JO:lastJobWithIncompleteFiles";
inline constexpr const char* idLastSuccessfulJobID = "lastSuccessfulJobID";
inline constexpr const char* idLastSynthFullJobID = "JO:lastSuccessSynthfulJobID";
inline constexpr const char* idLastTrueUpJobTime = "SC:LastTrueUpJobTime";
inline constexpr const char* idLimitStubCollectEntries = "Tandem::LimiteStubCollectEntries";
inline constexpr const char* idLoadContentFile = "SC:LoadContentFile";
inline constexpr const char* idLongPathFlag = "SC:LongPathEnabled";
inline constexpr const char* idLongPathVolumePath = "LongPath:VolumeName";
inline constexpr const char* idLowPercentDiskSpace = "Tandem::LowPercentDiskSpace";
inline constexpr const char* idMaxCollectFileID = "MaxCollectFileID";
inline constexpr const char* idMaxFileSize = "Tandem:MaxFileSize";
inline constexpr const char* idMaxScanThreads = "RegKey:MaxScanThreads";
inline constexpr const char* idMaxWorkers = "MaxWorkers";
inline constexpr const char* idDepotnode = "Depotnode";
inline constexpr const char* idMigrationAssistantUserSettings = "SC::idCollectMAUserSettings";
inline constexpr const char* idMinFileSize = "Tandem:MinFileSize";
inline constexpr const char* idMultiStreamExtentBackup = "RegKey:MultiStreamExtentBackup";
inline constexpr const char* idNASSnapSupported = "ididNASSnapSupported";
inline constexpr const char* idNetworkShareClientId = "idNetworkShareClientId";
inline constexpr const char* idNumDaysAccessed = "Tandem:NumDaysAccessed";
inline constexpr const char* idNumDaysModified = "Tandem:NumDaysModified";
inline constexpr const char* idNumStreams = "SC:NumStreams";
inline constexpr const char* idNutanixAFS = "SC:NutanixAFS";
inline constexpr const char* idNutanixRestAPIPassword = "SC:NutanixRestAPIPassword";
inline constexpr const char* idNutanixRestAPIURL = "SC:NutanixRestAPIURL";
inline constexpr const char* idNutanixRestAPIUser = "SC:NutanixRestAPIUser";
inline constexpr const char* idOnDemandAdHocBackupJob = "OnDemandAdHoc::Backup";
inline constexpr const char* idOnDemandAdHocCriteriaBased = "OnDemandAdHoc::CriteriaBased";
inline constexpr const char* idOnDemandAdHocPrevJobRefrenceTime = "OnDemandAdHoc::PrevJobRefrenceTime";
inline constexpr const char* idOnDemandAutoExpandDirs = "OnDemand::AutoExpandDirs";
inline constexpr const char* idOnDemandDisableFailedFilesProcessing = "OnDemandAdHoc::DisableFailedFileProcessing";
inline constexpr const char* idOnDemandHonorSCFilters = "OnDemandAdHoc::HonorSCFilters";
inline constexpr const char* idOnDemandProcessCriteriaBasedFiles = "OnDemandAdHoc::ProcessCriteriaBasedFiles";
inline constexpr const char* idOnDemandSkipProcessWorkUnit = "OnDemandAdHoc::SkipProcessWorkUnit";
inline constexpr const char* idPerformIndexCopy = "SC:idPerformIndexCopy";
inline constexpr const char* idPhysicalClientID = "Client:idPhysicalClientID";
inline constexpr const char* idPreScan = "Mode:idPreScan";
inline constexpr const char* idPreserveATime = "JO:KEEPATIME";
inline constexpr const char* idPreserveATimeThroughRegKey = "JO:DBCTIME";
inline constexpr const char* idProcessLongPaths = "ProcessLongPaths";
inline constexpr const char* idProcessTopLevelContent = "JO:ProcessTopLevelContent";
inline constexpr const char* idPstEvaluator = "PSTEvaluator";
inline constexpr const char* idReadImpersonationMethod = "SC::ReadImpersonationMethod";
inline constexpr const char* idReanalyzeData = "ReanalyzeData";
inline constexpr const char* idReportStubbingCandidates = "Tandem::idReportStubbingCandidates";
inline constexpr const char* idRestartScanForFileServerTrueUp = "SC:RestartScanForFileServerTrueUp";
inline constexpr const char* idRetryScanAttempt = "SC:RetryScanAttempt";
inline constexpr const char* idRootIsMountPoint = "RootIsMountPoint";
inline constexpr const char* idRulesDisabled = "Tandem:AllRulesDisabled";
inline constexpr const char* idScanInfoFile = "ScanInfoFile";
inline constexpr const char* idScanStartTime = "ScanStartTime";
inline constexpr const char* idSecurityInfoVal = "SecurityInfoVal";
inline constexpr const char* idSkipBackupPhase = "SkipBackupPhase";
inline constexpr const char* idSkipEmptyIncrementalBackup = "JO:SkipEmptyIncrementalBackup";
inline constexpr const char* idSkipIncompleteLargeFileBrowse = "SC:SkipIncompleteLargeFileBrowse";
inline constexpr const char* idSkipNonLocalMountDetails = "RegKey:SkipNonLocalMountDetails";
inline constexpr const char* idSkipSubclientFiles = "RegKey:SkipSubclientFiles";
inline constexpr const char* idSnap = "snap";
inline constexpr const char* idSkipLockTest = "SkipLockTest";
inline constexpr const char* idSkipSmallerFiles = "SkipSmallerFiles";
inline constexpr const char* idSnapBackupWithoutSnapCatalog = "SC:idSnapBackupWithouSnapCatalog";
inline constexpr const char* idSnapDiffIdxCopy = "SC:idSnapDiffIdxCopy";
inline constexpr const char* idSnapDiffScan = "SC:idSnapDiffScan";
inline constexpr const char* idSnapDiffScanForSnapBackup = "SC:idSnapDiffScanForSnapBackup";
inline constexpr const char* idSnapJobID = "SnapJobID";
inline constexpr const char* idSnapTape = "snaptape";
inline constexpr const char* idSolrCloudClientID = "SolrCloudClientID";
inline constexpr const char* idSolrServerUrl = "SolrServerUrl";
inline constexpr const char* idStaleFSCheckRequired = "SC:idStaleFSCheckRequired";
inline constexpr const char* idStubPruningOptions = "Tandem::StubPruningOptions";
inline constexpr const char* idStubPruningRetentionTime = "Tandem::StubPruningRetentionTime";
inline constexpr const char* idSubClientResultFolderPath = "JR:subclient";
inline constexpr const char* idTotalContainerCount = "TotalContainerCount";
inline constexpr const char* idTotalExtentCount = "TotalExtentCount";
inline constexpr const char* idTrueUpEnabled = "SC:TrueUpEnabled";
inline constexpr const char* idTrueUpLaptopFirstPhase = "SC:TrueUpLaptopFirstPhase";
// The backup phase marks the true-up state complete: a true-up ran, or a full.
inline constexpr const char* idTrueUpMarkAtBackup = "SC:TrueUpMarkAtBackup";
inline constexpr const char* idTrueUpQualified = "SC:TrueUpQualified";
inline constexpr const char* idTrueUpSkipped = "SC:TrueUpSkipped";
inline constexpr const char* idUpdatePreScanContentFile = "SC:idUpdatePreScanContentFile";
inline constexpr const char* idUseATime = "JO:ATIME";
inline constexpr const char* idUseArchiveBit = "JO:UseArchiveBit";
inline constexpr const char* idUseNativeSnap = "UseNativeSnap";
inline constexpr const char* idUseBuiltInSystemProtectedFilesFilter = "SystemProtectedFilesFilter:BuiltIn";
inline constexpr const char* idUseCTime = "JO:CTIME";
inline constexpr const char* idUseChangeJournal = "ChangeJournal:Scanner";
inline constexpr const char* idUseDataClassification = "DataClassification:Scanner";
inline constexpr const char* idUseFileCtimeAsRefTime = "UseFileCtimeAsRefTime";
inline constexpr const char* idUseIdxLogWriterBasedCataloging = "UseIdxLogWriterBasedCataloging";
inline constexpr const char* idUseMTime = "JO:MTIME";
inline constexpr const char* idUsePSTEvaluator = "JO:UsePSTEvaluator";
inline constexpr const char* idUseSimpleFolderIterator = "SimpleFolderIterator:Scanner";
inline constexpr const char* idUserCentricClientImpersonate = "SC:UserCentricClientImpersonate";
inline constexpr const char* idUserCentricClientImpersonateUid = "SC:UserCentricClientImpersonateUid";
inline constexpr const char* idVMMountPaths = "VMMountPaths";
inline constexpr const char* idVSACatalogBackupSetGUID = "VSACatalogBackupSetGUID";
inline constexpr const char* idVSACatalogVMGUID = "VSACatalogVMGUID";
inline constexpr const char* idVSACatalogVMName = "VSACatalogVMName";
inline constexpr const char* idVSACatalogingRefTime = "VSACatalogingRefTime";
inline constexpr const char* idVSAClientOSID = "VSAClientOSID";
inline constexpr const char* idVSAScanDirectiveFile = "VSAScanDirectiveFile";
inline constexpr const char* idVolumePath = "WU:VolumePath";
inline constexpr const char* idWorkUnitEnableFinalizeExamine = "WorkUnit:EnableExamine";
inline constexpr const char* isBackupStubs = "Tandem::isBackupStubs";
inline constexpr const char* isContentAwareArchiving = "Tandem::ContentAwareArchiving";
inline constexpr const char* isDisableStubPruning = "Tandem::DisableStubPruning";
inline constexpr const char* isHonorArchiveRetention = "Tandem::HonorArchiveRetention";
inline constexpr const char* isHonorArchiveRetentionStubPruning = "Tandem::isHonorArchiveRetentionStubPruning";
inline constexpr const char* isJobBasedRetentionStubPruningEnabled = "Tandem::isJobBasedRetentionStubPruningEnabled";
inline constexpr const char* isTandemPOCMode = "Tandem::isTandemPOCMode";

// Every key above, for dumps and for the check that no two constants share a text.
inline constexpr const char* kAllKeys[] = {
    idACLOnlyBackup,
    idAbortEvent,
    idAccessToken,
    idAdhocDisableMultiThread,
    idAfileID,
    idAfterSynthFull,
    idAnalyticsBackupType,
    idAnalyticsEnabled,
    idAppId,
    idAppIdGUID,
    idAppType,
    idAppleDouble,
    idArchiveAndDelete,
    idAutoMountRequired,
    idAvoidAdditionalFSQueryForFolder,
    idBackupAfterDate,
    idBackupJobID,
    idBackupOnlyArchive,
    idBackupSubmountUnderSkippedFS,
    idBackupType,
    idBlockLevel,
    idCIFSPathAccessWaitTimeOnFailure,
    idCacheDBBackup,
    idCaseInSensitive,
    idClientAppType,
    idClientID,
    idClientName,
    idCloudLaptopBackup,
    idClusterFSTypes,
    idClusterFilter,
    idCollectACL,
    idOrbundId,
    idContainerCollectId,
    idCrossOSNFSBackup,
    idDCFreezeDoneByZVFSSnap,
    idDaysToTrueUp,
    idDisableDCCompare,
    idDisableSkipOverlapContent,
    idDiskCleanupEnabled,
    idDistributedAppType,
    idDistributedFSMode,
    idDoNotUseArchiverDriver,
    idDontCreateSkipFSConsumer,
    idQuillWebServerHost,
    idQuillWebServerID,
    idQuillWebServerJR,
    idQuillWebServerUrl,
    idEnableDeletedConsumer,
    idEnableFolderLevelMultithread,
    idEnableMultiThread,
    idEnhancedSymbolicLinkIdentification,
    idExtensionsForDiskCleanup,
    idExtentBackupExtentSize,
    idExtentBackupFileExtentSlabsKey,
    idExtentBackupFileSize,
    idExtentFeatureEnabledExplicitly,
    idExtentSize,
    idFSIScanEngine,
    idFailJobSet,
    idFailPhaseSet,
    idFailedFilesInIndex,
    idFileScanDebugEnabled,
    idFileServerScan,
    idFileServerSnapBackupFromSnapshotOnly,
    idFileServerTrueUp,
    idFileShareAutoMountOptions,
    idFollowDFSReparsePoints,
    idFollowMount,
    idFollowSymLink,
    idForceFullScan,
    idForceFullScanContents,
    idForceInsensitiveFilterForWildCard,
    idGluster,
    idGpfsScan,
    idGpfsSnap,
    idHadoopNameNodeHost,
    idHadoopNameNodePort,
    idHadoopScan,
    idHadoopUser,
    idHardLinkEnable,
    idHighPercentDiskSpace,
    idIdentifyACLOnlyItem,
    idImpersonateUID,
    idIncludeEmptyFoldersInIncrementalBackup,
    idIncrImageMode,
    idIndexV2,
    idInstance,
    idInstanceBaseVersion,
    idIsDefaultSCContentRoot,
    idIsDefaultSubclient,
    idIsDisableFailureLogging,
    idIsLastJobFull,
    idIsLongPathScan,
    idIsNetworkShareClient,
    idIsPrevJobValid,
    idItemCountUpdateInterval,
    idJobID,
    idJobResultFolderPath,
    idJobResultsBasePath,
    idJobToken,
    idJobType,
    idJobsToTrueUp,
    idLaptopClient,
    idLastCatalogJobID,
    idLastFULLJobID,
    idLastIncrJobID,
    idLastJobID,
    idLastJobWithIncompleteFiles,
    idLastSuccessfulJobID,
    idLastSynthFullJobID,
    idLastTrueUpJobTime,
    idLimitStubCollectEntries,
    idLoadContentFile,
    idLongPathFlag,
    idLongPathVolumePath,
    idLowPercentDiskSpace,
    idMaxCollectFileID,
    idMaxFileSize,
    idMaxScanThreads,
    idMaxWorkers,
    idDepotnode,
    idMigrationAssistantUserSettings,
    idMinFileSize,
    idMultiStreamExtentBackup,
    idNASSnapSupported,
    idNetworkShareClientId,
    idNumDaysAccessed,
    idNumDaysModified,
    idNumStreams,
    idNutanixAFS,
    idNutanixRestAPIPassword,
    idNutanixRestAPIURL,
    idNutanixRestAPIUser,
    idOnDemandAdHocBackupJob,
    idOnDemandAdHocCriteriaBased,
    idOnDemandAdHocPrevJobRefrenceTime,
    idOnDemandAutoExpandDirs,
    idOnDemandDisableFailedFilesProcessing,
    idOnDemandHonorSCFilters,
    idOnDemandProcessCriteriaBasedFiles,
    idOnDemandSkipProcessWorkUnit,
    idPerformIndexCopy,
    idPhysicalClientID,
    idPreScan,
    idPreserveATime,
    idPreserveATimeThroughRegKey,
    idProcessLongPaths,
    idProcessTopLevelContent,
    idPstEvaluator,
    idReadImpersonationMethod,
    idReanalyzeData,
    idReportStubbingCandidates,
    idRestartScanForFileServerTrueUp,
    idRetryScanAttempt,
    idRootIsMountPoint,
    idRulesDisabled,
    idScanInfoFile,
    idScanStartTime,
    idSecurityInfoVal,
    idSkipBackupPhase,
    idSkipEmptyIncrementalBackup,
    idSkipIncompleteLargeFileBrowse,
    idSkipNonLocalMountDetails,
    idSkipSubclientFiles,
    idSnap,
    idSkipLockTest,
    idSkipSmallerFiles,
    idSnapBackupWithoutSnapCatalog,
    idSnapDiffIdxCopy,
    idSnapDiffScan,
    idSnapDiffScanForSnapBackup,
    idSnapJobID,
    idSnapTape,
    idSolrCloudClientID,
    idSolrServerUrl,
    idStaleFSCheckRequired,
    idStubPruningOptions,
    idStubPruningRetentionTime,
    idSubClientResultFolderPath,
    idTotalContainerCount,
    idTotalExtentCount,
    idTrueUpEnabled,
    idTrueUpLaptopFirstPhase,
    idTrueUpMarkAtBackup,
    idTrueUpQualified,
    idTrueUpSkipped,
    idUpdatePreScanContentFile,
    idUseATime,
    idUseArchiveBit,
    idUseNativeSnap,
    idUseBuiltInSystemProtectedFilesFilter,
    idUseCTime,
    idUseChangeJournal,
    idUseDataClassification,
    idUseFileCtimeAsRefTime,
    idUseIdxLogWriterBasedCataloging,
    idUseMTime,
    idUsePSTEvaluator,
    idUseSimpleFolderIterator,
    idUserCentricClientImpersonate,
    idUserCentricClientImpersonateUid,
    idVMMountPaths,
    idVSACatalogBackupSetGUID,
    idVSACatalogVMGUID,
    idVSACatalogVMName,
    idVSACatalogingRefTime,
    idVSAClientOSID,
    idVSAScanDirectiveFile,
    idVolumePath,
    idWorkUnitEnableFinalizeExamine,
    isBackupStubs,
    isContentAwareArchiving,
    isDisableStubPruning,
    isHonorArchiveRetention,
    isHonorArchiveRetentionStubPruning,
    isJobBasedRetentionStubPruningEnabled,
    isTandemPOCMode,
};
}  // namespace SXScannerConfigurationBagId
