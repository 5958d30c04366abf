#include "ui/command_thread.h"

#include <QEventLoop>
#include <thread>

namespace quarrendel::ui {

void RunOffThread(QObject& context, FrontEnd& frontEnd, const std::function<void(FrontEnd&)>& command) {
  ForwardingFrontEnd forwarding(context, frontEnd);
  QEventLoop loop;
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      command(forwarding);
    } catch (...) {
      failure = std::current_exception();
    }
    // Posted, so it ends the loop even when the command ends before the loop starts.
    QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace quarrendel::ui
