#ifndef HITSIEVE_UI_RELOADABLE_H_
#define HITSIEVE_UI_RELOADABLE_H_

namespace hitsieve {

// Something that rereads the statistics database: a report screen, or the main window, which
// reloads all of them. UI thread only.
class Reloadable {
 public:
  virtual ~Reloadable() = default;
  virtual void Reload() = 0;
  // Told when an analysis run starts (true) and when it has finished or failed (false). While a
  // run is under way the worker writes the database, so nothing may read it: screens disable
  // their buttons that would.
  virtual void SetRunActive(bool /*active*/) {}
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_RELOADABLE_H_
