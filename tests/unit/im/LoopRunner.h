// Runs a member of the control thread object (main() by default) on an agent
// thread, as the agent's script does, so that scanners can wake that thread.
#pragma once

#include "core/Runnable.h"
#include "plugins/im/SystemIntegrityThread.h"

namespace KvoTest {

class CLoopRunner : public KvoCore::CRunnable {
public:
    using Member = void (KvoPluginIm::CSystemIntegrityThread::*)();

    CLoopRunner(KvoCore::CDom* dom, KvoPluginIm::CSystemIntegrityThread& control,
                Member member = &KvoPluginIm::CSystemIntegrityThread::main)
        : CRunnable("CLoopRunner", dom), m_control(control), m_member(member) {}
    ~CLoopRunner() override { StopThread(this); }

    void OnRun() override { (m_control.*m_member)(); }

private:
    KvoPluginIm::CSystemIntegrityThread& m_control;
    Member m_member;
};

}  // namespace KvoTest
