// A headless pageLoom for the queue tests: it adds one EH gallery address of the local
// fixture site to the lasting queue in DATA_FOLDER, starts the workers and runs until it
// is killed.
//   queue_child DATA_FOLDER SAVE_FOLDER ADDRESS
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/task_controller.h"
#include "base/fixed_text.h"
#include "support/eh_site.h"
#include "support/fake_window.h"
#include "support/test_settings.h"

int main(int argc, char** argv) {
  using namespace pageloom;
  if (argc != 4) {
    std::fprintf(stderr, "usage: queue_child DATA_FOLDER SAVE_FOLDER ADDRESS\n");
    return 2;
  }
  test::FakeWindow window;
  window.SetSaveFolderText(FromUtf8(argv[2]));
  SiteNames names = DefaultSiteNames();
  test::EhSite::Apply(names);
  ControllerSettings settings = test::TestSettings(names);
  settings.dataFolder = argv[1];
  TaskController controller(window, settings);
  if (controller.Queue() != QueueState::kOpened) return 3;
  window.SetAddressText(FromUtf8(argv[3]));
  controller.AddAddresses(window.AddressText(), window.Options());
  if (!test::WaitForAdds(controller.Adding(), std::chrono::seconds(10))) return 4;
  controller.Start();
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}
