#include "logging/unique_writer.h"

#include <gtest/gtest.h>

#include <vector>

namespace vireo {
namespace {

// Records its deletion and what its owner held while it was being deleted.
class WatchedWriter : public LogWriter {
 public:
  WatchedWriter(const UniqueWriter* owner, std::vector<const LogWriter*>* held_at_deletion)
      : owner_(owner), held_at_deletion_(held_at_deletion) {}
  ~WatchedWriter() override { held_at_deletion_->push_back(owner_->get()); }

 private:
  const UniqueWriter* owner_;
  std::vector<const LogWriter*>* held_at_deletion_;
};

// A fault in a writer's destructor must not leave the writer in its owner, or
// the owner's own destruction would delete it a second time.
TEST(UniqueWriter, LetsGoOfAWriterBeforeDeletingIt) {
  std::vector<const LogWriter*> held;
  {
    UniqueWriter owner;
    owner.reset(new WatchedWriter(&owner, &held));
    auto* second = new WatchedWriter(&owner, &held);
    owner.reset(second);
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0], second);
    EXPECT_EQ(owner.get(), second);
    owner.reset();
    ASSERT_EQ(held.size(), 2u);
    EXPECT_EQ(held[1], nullptr);
    EXPECT_FALSE(owner);
  }
  EXPECT_EQ(held.size(), 2u);
}

TEST(UniqueWriter, DeletesItsWriterAtDestructionButNotOneItReleased) {
  std::vector<const LogWriter*> held;
  const UniqueWriter outer;  // outlives every writer here
  {
    UniqueWriter owner;
    owner.reset(new WatchedWriter(&outer, &held));
  }
  EXPECT_EQ(held.size(), 1u);

  auto* kept = new WatchedWriter(&outer, &held);
  {
    UniqueWriter owner;
    owner.reset(kept);
    EXPECT_EQ(owner.release(), kept);
    EXPECT_FALSE(owner);
  }
  EXPECT_EQ(held.size(), 1u);
  delete kept;
  EXPECT_EQ(held.size(), 2u);
}

}  // namespace
}  // namespace vireo
