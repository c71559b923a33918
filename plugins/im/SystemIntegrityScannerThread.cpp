// CIntegrityScanThread: lifecycle and the step loop.
#include "plugins/im/SystemIntegrityScannerThread.h"

#include <wx/wxsqlite3.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "core/Log.h"
#include "plugins/im/FileReadContext.h"
#include "core/SqliteDatabase.h"
#include "plugins/im/EventOutbox.h"
#include "plugins/im/SqlSubscan.h"
#include "plugins/im/HostPlatform.h"
#include "plugins/im/StateKeys.h"
#include "core/StateKeys.h"

namespace KvoPluginIm {

const unsigned char CIntegrityScanThread::s_AttributeHashNull[20] = {0xda, 0x39, 0xa3, 0xee, 0x5e, 0x6b, 0x4b,
                                                                     0x0d, 0x32, 0x55, 0xbf, 0xef, 0x95, 0x60,
                                                                     0x18, 0x90, 0xaf, 0xd8, 0x07, 0x09};
const unsigned int CIntegrityScanThread::s_StatsMinMsec = 100;
const char* const CIntegrityScanThread::s_TraceStats = Keys::kTraceStats;

wxPathFormat CIntegrityScanThread::GetPathFormat(const KvoCore::CDom& agent) {
    return IsWindowsHost(agent) ? wxPATH_DOS : wxPATH_NATIVE;
}

void CIntegrityScanThread::ApplyIoPriority() {
    if (!m_ioPriorityIdle) return;
    if (!SetCallingThreadIoIdle())
        KvoCore::LogWarning(wxString::Format("%s: the IO priority stays as it was, idle was refused: %s",
                                             GetThreadName(), strerror(errno)));
}

CIntegrityScanThread::CIntegrityScanThread(KvoCore::CDom& dom, CSqlSubscan* subscan)
    : KvoCore::CRunnable(false, -1, false),
      m_traceStats(KvoCore::LogTraceIsEnabled(s_TraceStats)),
      m_subscan(subscan),
      m_syslog(dom, "integrity"),
      m_dom(dom) {
    m_attributeHash.AppendData(s_AttributeHashNull, sizeof s_AttributeHashNull);
    m_entitySetIdsInScope.rehash(101);
    m_ruleIdsInScope.rehash(101);
    SetDom(&m_dom);
}

CIntegrityScanThread::~CIntegrityScanThread() {
    // The thread uses the members below; it must have ended before they go.
    if (This() != this) {
        requestExit();
        join();
    }
    CloseSystemIntegrityDb();
    if (KvoCore::CRunnable* parent = m_parent.exchange(nullptr)) parent->Awaken();
    wxMutexLocker lock(m_subscanMutex);
    m_subscan.reset();
}

long long CIntegrityScanThread::GetScanId() {
    wxMutexLocker lock(m_subscanMutex);
    return m_subscan ? m_subscan->m_scanId : 0;
}

wxString CIntegrityScanThread::GetEntityType() {
    wxMutexLocker lock(m_subscanMutex);
    return m_subscan ? m_subscan->m_entityType : wxString();
}

bool CIntegrityScanThread::ShouldShutdown() {
    return m_dom.ShouldExit(0, nullptr) || CRunnable::TestDestroy(0, nullptr);
}

void CIntegrityScanThread::OnRun() {
    try {
        RunSteps();
    } catch (const wxSQLite3Exception& e) {
        // The thread base knows nothing of database errors; the subscan keeps
        // its step, so the control thread schedules it again.
        DiscardDbAfterException();
        KvoCore::LogError(wxString::Format("%s: %s", GetThreadName(), e.GetMessage()));
        KVO_SCANNER_TRACE("Exit because of an uncaught exception.");
    } catch (...) {
        DiscardDbAfterException();
        KVO_SCANNER_TRACE("Exit because of an uncaught exception.");
        throw;
    }
    // Settled before isRunning() turns false, so the control thread never sees
    // an ended scanner without its verdict.
    m_finished.store(IsSubscanFinished());
}

void CIntegrityScanThread::RunSteps() {
    m_trace = KvoCore::LogTraceIsEnabled(GetTraceMask());
    KVO_SCANNER_TRACE("OnRun() %s", GetCPUTimeStr());
    m_dom.ConditionRaise(Keys::kScanRunningPrefix + EntityTypeAscii());
    if (!OpenSystemIntegrityDb()) return;
    if (!OnThreadStartup()) {
        OnError();
        return;
    }
    long long minContentSize = 0;
    if (m_dom.Get(Keys::kMinContentSizeForRenameDetection, minContentSize))
        m_minContentSizeForRenameDetection = minContentSize;
    if (GetScanType() == 3) SetCPULimit(5);
    ApplyIoPriority();
    TestDestroy(100, nullptr);

    while (!ShouldShutdown()) {
        const int step = m_subscan->m_scanStep;
        KVO_SCANNER_TRACE("Beginning step %d", step);
        if (step == StepFinished) {
            m_subscan->m_endTime = KvoCore::TimeNowMillis();
            m_subscan->SetAttributeNull(&m_subscan->m_endTime, false);
            SaveSubscan();
            KVO_SCANNER_TRACE("Normal exit - CSqlSubscan::Finished");
            return;
        }
        const bool succeeded = RunStep(step);
        FlushOutbox();
        if (ShouldShutdown()) {
            KVO_SCANNER_TRACE("Exit because ShouldShutdown() returned true");
            return;
        }
        if (!succeeded) {
            OnError();
            KVO_SCANNER_TRACE("Exit because a scan step failed.");
            return;
        }
        if (IsDbOpen()) m_db->DumpMemoryStats(KvoCore::Keys::kTraceMemory);
        TestDestroy(100, nullptr);
    }
    KVO_SCANNER_TRACE("Exit due to loop terminating - ShouldShutdown=%d", ShouldShutdown() ? 1 : 0);
}

bool CIntegrityScanThread::RunStep(int step) {
    switch (step) {
        case StepInit:
            return OnInit();
        case StepResetSupersededBy:
            return OnResetSupersededBy();
        case StepMatchEntities:
            return OnMatchEntities();
        case StepProcessRealtimeChanges:
            return OnProcessRealtimeChanges();
        case StepGatherAttributeValues:
            return OnGatherAttributeValues();
        case StepProcessExternalEntities:
            return OnProcessExternalEntities();
        case StepScanPostProcessing:
            return OnScanPostProcessing();
        default:
            return OnCustomStep(step);
    }
}

void CIntegrityScanThread::OnExit() {
    KVO_SCANNER_TRACE("CIntegrityScanThread::OnExit() %s", GetCPUTimeStr());
    m_dom.ConditionRaise(Keys::kScanFinishedPrefix + EntityTypeAscii());
    CloseSystemIntegrityDb();
    m_finished.store(IsSubscanFinished());
    CRunnable::OnExit();
    if (KvoCore::CRunnable* parent = m_parent.exchange(nullptr)) parent->Awaken();
}

void CIntegrityScanThread::OnError() {
    m_dom.DoAgentEventWrite(3010, "%s scan aborted", GetEntityType());
    if (!IsDbOpen()) return;
    // Finished, so that the control thread does not resume a scan that failed.
    SetNextStep(StepFinished);
}

bool CIntegrityScanThread::OnInit() {
    m_subscan->m_scanStep = GetScanType() == 2 ? StepProcessRealtimeChanges : StepResetSupersededBy;
    m_subscan->SetAttributeNull(&m_subscan->m_scanStep, false);
    m_subscan->m_checkpointInfo.clear();
    m_subscan->SetAttributeNull(&m_subscan->m_checkpointInfo, true);
    m_subscan->m_startTime = KvoCore::TimeNowMillis();
    m_subscan->SetAttributeNull(&m_subscan->m_startTime, false);
    SaveSubscan();
    return true;
}

bool CIntegrityScanThread::OnCustomStep(int step) {
    KvoCore::LogError(wxString::Format("CIntegrityScanThread - unknown step number %d for %s integrity scan thread.",
                                       step, GetThreadName()));
    return false;
}

void CIntegrityScanThread::OnEntityUnchanged(const CSqlEntity&, const CSqlEntity&) {}

bool CIntegrityScanThread::OnReadContentBegin(const wxString&, unsigned long&) { return false; }

bool CIntegrityScanThread::OnReadContent(const wxString&, unsigned long, unsigned long long, void*&, unsigned long&) {
    return false;
}

bool CIntegrityScanThread::OnReadContentEnd(const wxString&, unsigned long) { return false; }

void CIntegrityScanThread::SetNextStep(int step) {
    m_subscan->m_scanStep = step;
    m_subscan->SetAttributeNull(&m_subscan->m_scanStep, false);
    m_subscan->m_checkpointInfo.clear();
    m_subscan->SetAttributeNull(&m_subscan->m_checkpointInfo, true);
    SaveSubscan();
}

CIntegrityScanThread::StatementRelease::~StatementRelease() {
    m_statement.Reset();
    m_statement.ClearBindings();
}

void CIntegrityScanThread::SaveSubscan() {
    wxSQLite3Statement& update = *m_statements->updateSubscan;
    m_subscan->SQLUpdate(*m_db, update);
    update.Reset();
    update.ClearBindings();
}

bool CIntegrityScanThread::IsSubscanFinished() const { return m_subscan && m_subscan->m_scanStep == StepFinished; }

std::string CIntegrityScanThread::EntityTypeAscii() { return std::string(GetEntityType().ToAscii()); }

}  // namespace KvoPluginIm
