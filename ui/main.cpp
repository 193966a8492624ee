// torquelin-gui: the desktop program.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/system_error.h"
#include "ui/program_start.h"
#include "ui/torquelin_app.h"

int main(int argc, char** argv) {
  torquelin::platform::ReportOversizedWritesAsErrors();
  const torquelin::StartPlan plan =
      torquelin::PlanStart(argc, argv, [](const char* name) { return std::getenv(name); });
  if (plan.action != torquelin::StartPlan::Action::OpenWindow) {
    std::fputs(plan.text.c_str(),
               plan.action == torquelin::StartPlan::Action::Print ? stdout : stderr);
    return plan.exit_status;
  }
  auto guard = std::make_unique<torquelin::StartGuard>();
  torquelin::TorquelinApp app(argc, argv);
  guard.reset();
  return app.Run();
}
