#include "base/threads/CoThread.h"

namespace Corvane {

CoThread::CoThread(CoTask* task, const char* name, ThreadType type, PolicyType policy, PriorityType level, int cpu)
    : task_(task), name_(name ? name : ""), cpu_(cpu), level_(level), policy_(policy), type_(type) {}

CoThread::~CoThread() = default;

int CoThread::getCpu() const { return cpu_.load(); }

void CoThread::setCpu(int cpu) { cpu_.store(cpu); }

}  // namespace Corvane
