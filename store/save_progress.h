// The observer a save reports its positions 1 to 5 to.

#ifndef HITSIEVE_STORE_SAVE_PROGRESS_H_
#define HITSIEVE_STORE_SAVE_PROGRESS_H_

namespace hitsieve {

// Receives the saving positions 1 to 5. Called on the worker thread.
class SaveProgressObserver {
 public:
  virtual ~SaveProgressObserver() = default;
  virtual void SetPosition(int position) = 0;
};

}  // namespace hitsieve

#endif  // HITSIEVE_STORE_SAVE_PROGRESS_H_
