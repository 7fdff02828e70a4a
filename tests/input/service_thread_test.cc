// The service threads: the order in which a pass services its nodes, the
// reader's and the sound's priorities, a busy node waited out, removal with
// the threads stopped or held, and the threads' life with the movies.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/movie.h"
#include "engine/movie_service.h"
#include "input/service_thread.h"
#include "platform/platform.h"
#include "sound/sound_silent.h"
#include "engine/sound_track.h"
#include "support/movie_fixtures.h"

namespace {

// A node that asks for service with a fixed priority, once per pass.
struct FakeClient {
  ServiceNode node{};
  char name = '?';
  uint32_t priority = 0;
  uint32_t serviced_tick = 0;
  std::string* log = nullptr;
  PlatformEvent* on_service = nullptr;  // set after each service
};

uint32_t FakePoll(ServiceNode* node, uint32_t tick) {
  auto* c = static_cast<FakeClient*>(node->owner);
  return c->serviced_tick == tick ? 0 : c->priority;
}

void FakeService(ServiceNode* node, uint32_t tick) {
  auto* c = static_cast<FakeClient*>(node->owner);
  c->serviced_tick = tick;
  if (c->log) *c->log += c->name;
  if (c->on_service) EventSet(c->on_service);
}

void AddClient(ServiceThread* thread, FakeClient* c, char name, uint32_t priority,
               std::string* log) {
  c->name = name;
  c->priority = priority;
  c->log = log;
  c->node.owner = c;
  ASSERT_TRUE(ServiceNodeAdd(thread, &c->node, FakePoll, FakeService));
  ASSERT_NE(c->node.mutex, nullptr);
}

// A thread that never runs by itself: the test drives its passes while it
// owns the state mutex, so every pass is deterministic.
struct DrivenThread {
  ServiceThread* thread = ServiceThreadCreate(SERVICE_SOUND_RATE);
  DrivenThread() {
    thread->state.store(SERVICE_RUNNING);
    MutexLock(thread->state_mutex);
  }
  ~DrivenThread() {
    MutexUnlock(thread->state_mutex);
    ServiceThreadDestroy(thread);
  }
  void Pass() { ServiceThreadPass(thread); }
};

TEST(ServicePass, MostUrgentFirstEachOncePerPass) {
  DrivenThread t;
  std::string log;
  FakeClient a, b, c, d1, d2;
  AddClient(t.thread, &a, 'a', 10, &log);
  AddClient(t.thread, &b, 'b', 30, &log);
  AddClient(t.thread, &c, 'c', 20, &log);
  // Equal priorities: the node polled later goes in front, so the node added
  // first (the list's tail) comes first.
  AddClient(t.thread, &d1, '1', 5, &log);
  AddClient(t.thread, &d2, '2', 5, &log);
  FakeClient idle;
  AddClient(t.thread, &idle, 'x', 0, &log);
  t.Pass();
  EXPECT_EQ(log, "bca12");
  t.Pass();
  EXPECT_EQ(log, "bca12bca12");
  EXPECT_EQ(t.thread->node_count, 6u);
  ServiceNodesRemove(nullptr, t.thread, nullptr, &a.node, false);
  log.clear();
  t.Pass();
  EXPECT_EQ(log, "bc12");
  for (FakeClient* f : {&b, &c, &d1, &d2, &idle})
    ServiceNodesRemove(nullptr, t.thread, nullptr, &f->node, false);
  EXPECT_EQ(t.thread->node_count, 0u);
}

// Holds a node's mutex on another thread until told to let go.
struct Holder {
  PlatformMutex* mutex;
  PlatformEvent* taken = EventCreate();
  PlatformEvent* release = EventCreate();
  PlatformThread* thread = nullptr;
  static uint32_t Body(void* arg) {
    auto* h = static_cast<Holder*>(arg);
    MutexLock(h->mutex);
    EventSet(h->taken);
    EventWait(h->release, kWaitForever);
    MutexUnlock(h->mutex);
    return 0;
  }
  explicit Holder(PlatformMutex* m) : mutex(m) {
    thread = ThreadCreateSuspended(Body, this);
    ThreadResume(thread);
    EventWait(taken, kWaitForever);
  }
  ~Holder() {
    ThreadJoin(thread);
    EventDestroy(taken);
    EventDestroy(release);
  }
};

// The most urgent node is busy: the next one is serviced meanwhile, and the
// pass keeps polling until the busy one comes free.
TEST(ServicePass, BusyNodeIsPassedOverThenWaitedOut) {
  DrivenThread t;
  std::string log;
  FakeClient busy, other;
  AddClient(t.thread, &busy, 'b', 100, &log);
  AddClient(t.thread, &other, 'o', 50, &log);
  Holder holder(busy.node.mutex);
  other.on_service = holder.release;  // the holder lets go once 'o' was serviced
  t.Pass();
  EXPECT_EQ(log, "ob");
  ServiceNodesRemove(nullptr, t.thread, nullptr, &busy.node, false);
  ServiceNodesRemove(nullptr, t.thread, nullptr, &other.node, false);
}

// ---- The movie's nodes ----------------------------------------------------------

struct FakeReaderMovie;
FakeReaderMovie* g_reader = nullptr;  // the one fake reader of a test

struct FakeReaderMovie {
  std::unique_ptr<Movie> movie = std::make_unique<Movie>();
  uint32_t idle_calls = 0;
  uint32_t grow = 1;  // bytes each idle adds (0: the reader has nothing to read)
  static int32_t Idle(IoReader* io) {
    g_reader->idle_calls++;
    io->buffered.fetch_add(g_reader->grow);
    return static_cast<int32_t>(g_reader->grow);
  }
  FakeReaderMovie(uint32_t buffered, uint32_t target) {
    g_reader = this;
    IoReaderReset(&movie->io);
    movie->io.owner = movie.get();
    movie->io.service_node.owner = &movie->io;
    movie->io.idle = Idle;
    movie->io.buffered = buffered;
    movie->io.fill_target = target;
  }
  ~FakeReaderMovie() { g_reader = nullptr; }
};

TEST(ServiceReaderNode, BelowHalfIsServicedAgainUntilHalfFull) {
  DrivenThread t;
  FakeReaderMovie r(40, 100);
  ServiceNode* node = &r.movie->io.service_node;
  EXPECT_EQ(MovieReaderPoll(node, 7), 0xFFFFFFFFu - 40);  // (40 + 1) * 100 / 101
  ASSERT_TRUE(ServiceNodeAdd(t.thread, node, MovieReaderPoll, MovieReaderService));
  t.Pass();
  EXPECT_EQ(r.idle_calls, 10u);  // 40 -> 50 buffered bytes: 51 * 100 / 101 = 50 %
  EXPECT_EQ(r.movie->io.buffered.load(), 50u);
  const uint32_t tick = r.movie->reader_service_tick;
  EXPECT_EQ(MovieReaderPoll(node, tick), 0u);  // half full and serviced in this pass
  EXPECT_EQ(MovieReaderPoll(node, tick + 1), 0x80000000u - tick);
  t.Pass();
  EXPECT_EQ(r.idle_calls, 11u);  // once per pass from half full on
  ServiceNodesRemove(t.thread, nullptr, node, nullptr, false);
  EXPECT_EQ(node->mutex, nullptr);
}

// A reader under half full that cannot read (end of the movie, a read
// error) is serviced once in that pass; the pass ends.
TEST(ServiceReaderNode, ReaderThatReadsNothingEndsThePass) {
  DrivenThread t;
  FakeReaderMovie r(0, 100);
  r.grow = 0;
  ServiceNode* node = &r.movie->io.service_node;
  ASSERT_TRUE(ServiceNodeAdd(t.thread, node, MovieReaderPoll, MovieReaderService));
  t.Pass();
  EXPECT_EQ(r.idle_calls, 1u);
  t.Pass();
  EXPECT_EQ(r.idle_calls, 2u);
  ServiceNodesRemove(t.thread, nullptr, node, nullptr, false);
}

TEST(ServiceSoundNode, LongerAgoFirstAndOncePerPass) {
  DrivenThread t;
  auto a = std::make_unique<Movie>();
  auto b = std::make_unique<Movie>();
  a->sound_node.owner = a.get();
  b->sound_node.owner = b.get();
  a->sound_service_tick = 0;
  b->sound_service_tick = 0;
  EXPECT_EQ(MovieSoundPoll(&a->sound_node, 1), 0xFFFFFFFFu);
  a->sound_service_tick = 1;
  EXPECT_EQ(MovieSoundPoll(&a->sound_node, 1), 0u);
  EXPECT_EQ(MovieSoundPoll(&a->sound_node, 2), 0xFFFFFFFFu - 1);
  ASSERT_TRUE(ServiceNodeAdd(t.thread, &a->sound_node, MovieSoundPoll, MovieSoundService));
  ASSERT_TRUE(ServiceNodeAdd(t.thread, &b->sound_node, MovieSoundPoll, MovieSoundService));
  t.Pass();
  EXPECT_EQ(a->sound_service_tick, t.thread->tick);
  EXPECT_EQ(b->sound_service_tick, t.thread->tick);
  ServiceNodesRemove(nullptr, t.thread, nullptr, &a->sound_node, false);
  ServiceNodesRemove(nullptr, t.thread, nullptr, &b->sound_node, false);
}

// ---- Removal on running threads ---------------------------------------------------

// Waits (without a time limit) until the running thread services the client.
void ExpectServiced(FakeClient* c) {
  PlatformEvent* serviced = EventCreate();
  MutexLock(c->node.mutex);  // a service reads on_service under it
  c->on_service = serviced;
  MutexUnlock(c->node.mutex);
  EventWait(serviced, kWaitForever);
  // The event may be set again by a later pass before it is gone: stop that
  // first by taking the client's mutex, which a service holds.
  MutexLock(c->node.mutex);
  PlatformEvent* e = c->on_service;
  c->on_service = nullptr;
  MutexUnlock(c->node.mutex);
  EventDestroy(e);
}

TEST(ServiceRemove, ThreadsEndWithTheirLastNodeAndTheOthersRunOn) {
  ServiceThread* reading = ServiceThreadCreate(SERVICE_READING_RATE);
  ServiceThread* sound = ServiceThreadCreate(SERVICE_SOUND_RATE);
  ASSERT_NE(reading, nullptr);
  ASSERT_NE(sound, nullptr);
  ServiceThreadStart(reading);
  ServiceThreadStart(sound);
  FakeClient r1, r2, s1, s2;
  AddClient(reading, &r1, 'r', 1, nullptr);
  AddClient(reading, &r2, 'R', 1, nullptr);
  AddClient(sound, &s1, 's', 1, nullptr);
  AddClient(sound, &s2, 'S', 1, nullptr);
  ExpectServiced(&r2);
  ExpectServiced(&s2);

  // Both lists keep nodes: both threads are held, then run on.
  EXPECT_EQ(ServiceNodesRemove(reading, sound, &r1.node, &s1.node, true), 0u);
  EXPECT_EQ(r1.node.mutex, nullptr);
  EXPECT_EQ(s1.node.mutex, nullptr);
  EXPECT_EQ(reading->state.load(), SERVICE_RUNNING);
  EXPECT_EQ(sound->state.load(), SERVICE_RUNNING);
  ExpectServiced(&r2);
  ExpectServiced(&s2);

  // The sound list empties: that thread ends, the reading thread runs on.
  FakeClient r3;
  AddClient(reading, &r3, '3', 1, nullptr);
  EXPECT_EQ(ServiceNodesRemove(reading, sound, &r2.node, &s2.node, true), 2u);
  ExpectServiced(&r3);
  EXPECT_EQ(ServiceNodesRemove(reading, nullptr, &r3.node, nullptr, true), 1u);
}

TEST(ServiceRemove, NodeNotInTheListIsLeftAlone) {
  ServiceThread* sound = ServiceThreadCreate(SERVICE_SOUND_RATE);
  ServiceThreadStart(sound);
  FakeClient in, out;
  AddClient(sound, &in, 'i', 1, nullptr);
  out.node.mutex = MutexCreate();
  EXPECT_EQ(ServiceNodesRemove(nullptr, sound, nullptr, &out.node, true), 0u);
  EXPECT_NE(out.node.mutex, nullptr);
  EXPECT_EQ(sound->node_count, 1u);
  MutexDestroy(out.node.mutex);
  EXPECT_EQ(ServiceNodesRemove(nullptr, sound, nullptr, &in.node, true), 2u);
}

TEST(ServiceThreadLife, HoldParksBothThreadsOutsideAnyPass) {
  ServiceThread* a = ServiceThreadCreate(SERVICE_SOUND_RATE);
  ServiceThread* b = ServiceThreadCreate(SERVICE_SOUND_RATE);
  ServiceThreadStart(a);
  ServiceThreadStart(b);
  FakeClient ca, cb;
  AddClient(a, &ca, 'a', 1, nullptr);
  AddClient(b, &cb, 'b', 1, nullptr);
  ServiceThreadHold(a, b);
  EXPECT_EQ(a->state.load(), SERVICE_HELD);
  EXPECT_EQ(b->state.load(), SERVICE_HELD);
  // Held: no service can be under way, so the clients' mutexes are free.
  EXPECT_TRUE(MutexTryLock(ca.node.mutex));
  MutexUnlock(ca.node.mutex);
  ServiceThreadStart(a);
  ServiceThreadStart(b);
  ExpectServiced(&ca);
  ExpectServiced(&cb);
  EXPECT_EQ(ServiceNodesRemove(nullptr, a, nullptr, &ca.node, true), 2u);
  // A held thread can be destroyed as well.
  ServiceThreadHold(nullptr, b);
  ServiceThreadDestroy(b);
  MutexDestroy(cb.node.mutex);  // the client's, not the thread's
}

// ---- With movies ---------------------------------------------------------------------

class ServiceMovies : public ::testing::Test {
 protected:
  void SetUp() override {
    SoundDriverReset();
    ASSERT_EQ(SoundDriverSelect(SoundSilentDriver, 0), 1);
    ASSERT_EQ(ServiceThreadOf(SERVICE_READING), nullptr);
    ASSERT_EQ(ServiceThreadOf(SERVICE_SOUND), nullptr);
    FixtureMovie f = FixtureBasic(40, 64, 48, 3000);
    FixtureAddTrack(&f, 0, 22050 | AUDIO_TRACK_DCT | AUDIO_TRACK_16BIT, 4096);
    with_sound_ = FixtureWriteFile("service_sound.vxn", FixtureBuild(f));
    silent_ = FixtureWriteFile("service_silent.vxn", FixtureBuild(FixtureBasic(40, 64, 48, 3000)));
  }
  void TearDown() override { SoundDriverReset(); }
  Movie* Open(const std::string& path, uint32_t flags) {
    MovieSetIoBufferSize(32768);  // never preloaded unless asked
    Movie* m = MovieOpen(path.c_str(), flags | OPEN_IO_SIZE);
    EXPECT_NE(m, nullptr) << MovieGetError();
    return m;
  }
  std::string with_sound_, silent_;
};

TEST_F(ServiceMovies, ThreadsComeWithTheFirstUserAndGoWithTheLast) {
  Movie* a = Open(with_sound_, 0);
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->selected_count, 1u);
  ServiceThread* sound = ServiceThreadOf(SERVICE_SOUND);
  ServiceThread* reading = ServiceThreadOf(SERVICE_READING);
  ASSERT_NE(sound, nullptr);
  ASSERT_NE(reading, nullptr);
  EXPECT_EQ(a->sound_on, 1u);
  EXPECT_NE(a->sound_node.mutex, nullptr);
  EXPECT_NE(a->io.service_node.mutex, nullptr);

  Movie* b = Open(silent_, 0);  // a reader node only
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(reading->node_count, 2u);
  EXPECT_EQ(sound->node_count, 1u);
  EXPECT_EQ(b->sound_node.mutex, nullptr);

  MovieClose(a);  // the last sound user: the sound thread ends
  EXPECT_EQ(ServiceThreadOf(SERVICE_SOUND), nullptr);
  EXPECT_EQ(ServiceThreadOf(SERVICE_READING), reading);
  EXPECT_EQ(reading->node_count, 1u);
  MovieClose(b);
  EXPECT_EQ(ServiceThreadOf(SERVICE_READING), nullptr);

  Movie* c = Open(with_sound_, 0);  // a new pair for the next movie
  EXPECT_NE(ServiceThreadOf(SERVICE_SOUND), nullptr);
  EXPECT_NE(ServiceThreadOf(SERVICE_READING), nullptr);
  MovieClose(c);
  EXPECT_EQ(ServiceThreadOf(SERVICE_SOUND), nullptr);
  EXPECT_EQ(ServiceThreadOf(SERVICE_READING), nullptr);
}

TEST_F(ServiceMovies, NoThreadSwitchAndPreloadLeaveTheReaderAlone) {
  Movie* k = Open(with_sound_, OPEN_NO_THREAD);
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(ServiceThreadOf(SERVICE_READING), nullptr);
  EXPECT_EQ(k->io.service_node.mutex, nullptr);  // the reader's hooks do nothing
  EXPECT_EQ(k->io.try_lock(&k->io), 1);
  EXPECT_NE(ServiceThreadOf(SERVICE_SOUND), nullptr);
  MovieClose(k);

  Movie* p = Open(silent_, OPEN_PRELOAD);
  ASSERT_NE(p, nullptr);
  EXPECT_NE(p->preload, nullptr);
  EXPECT_EQ(ServiceThreadOf(SERVICE_READING), nullptr);
  EXPECT_EQ(ServiceThreadOf(SERVICE_SOUND), nullptr);
  MovieClose(p);
}

}  // namespace
