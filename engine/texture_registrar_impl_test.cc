#include "engine/texture_registrar_impl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/headless_engine_fixture.h"
#include "tests/stderr_capture.h"

namespace flutter {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using velmoran_testing::StderrLinesOf;

const char kUnknownVariant[] = "Attempting to register unknown texture variant.";
const char kRegister[] = "FlutterDesktopTextureRegistrarRegisterExternalTexture";
const char kMark[] = "FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable";
const char kUnregister[] = "FlutterDesktopTextureRegistrarUnregisterExternalTexture";

// The texture record exactly as the engine reads it.
using RecordBytes = std::array<unsigned char, 40>;

RecordBytes BytesOf(const FlutterDesktopTextureInfo& info) {
  static_assert(sizeof info == std::tuple_size<RecordBytes>::value, "record size");
  RecordBytes bytes;
  std::memcpy(bytes.data(), &info, bytes.size());
  return bytes;
}

template <typename T>
void Put(RecordBytes& bytes, size_t offset, T value) {
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// What the engine must get for a pixel-buffer texture: kind 0, callback at 8, user data at 16,
// every other byte zero.
RecordBytes PixelBufferImage(FlutterDesktopPixelBufferTextureCallback callback, void* user_data) {
  RecordBytes bytes{};
  Put(bytes, 0, int32_t{0});
  Put(bytes, 8, callback);
  Put(bytes, 16, user_data);
  return bytes;
}

// What the engine must get for a GPU-surface texture: kind 1, record size 32 at 8, surface
// type at 16, callback at 24, user data at 32, every other byte zero.
RecordBytes GpuSurfaceImage(int32_t surface_type, FlutterDesktopGpuSurfaceTextureCallback callback,
                            void* user_data) {
  RecordBytes bytes{};
  Put(bytes, 0, int32_t{1});
  Put(bytes, 8, uint64_t{32});
  Put(bytes, 16, surface_type);
  Put(bytes, 24, callback);
  Put(bytes, 32, user_data);
  return bytes;
}

// Stand-ins for buffers and descriptors in the engine's formats. The registrar passes the
// pointers on unread, so distinct, suitably aligned addresses are all they need to be.
struct alignas(std::max_align_t) FakeDescription {
  unsigned char bytes[16];
};
FakeDescription fake_descriptions[4];

const FlutterDesktopPixelBuffer* FakeBuffer(size_t n) {
  return reinterpret_cast<const FlutterDesktopPixelBuffer*>(&fake_descriptions[n]);
}
const FlutterDesktopGpuSurfaceDescriptor* FakeSurface(size_t n) {
  return reinterpret_cast<const FlutterDesktopGpuSurfaceDescriptor*>(&fake_descriptions[2 + n]);
}

PixelBufferTexture ConstantPixelBuffer(size_t n) {
  return PixelBufferTexture([n](size_t, size_t) { return FakeBuffer(n); });
}

// Leaves variant holding neither alternative, as a failed change of alternative does: the old
// texture is destroyed, then making the new one fails.
void MakeValueless(TextureVariant& variant) {
  struct FailingSource {
    operator PixelBufferTexture() const { throw 0; }
  };
  try {
    variant.emplace<PixelBufferTexture>(FailingSource{});
  } catch (int) {
  }
}

using Request = std::pair<size_t, size_t>;  // width, height

class TextureRegistrarTest : public velmoran_testing::HeadlessEngineTest {
 protected:
  TextureRegistrarTest()
      : registrar_(engine().CreateRegistrar()),
        textures_(std::make_unique<TextureRegistrarImpl>(engine().texture_registrar(registrar_))) {
    engine().TakeCallLog();
  }

  int64_t Register(TextureVariant& texture) {
    int64_t id = textures_->RegisterTexture(&texture);
    EXPECT_NE(id, -1);
    return id;
  }

  // The record the engine holds for the texture id, if it is registered.
  std::optional<FlutterDesktopTextureInfo> RecordOf(int64_t id) const {
    for (const velmoran_host::RegisteredTexture& texture : engine_->textures(registrar_)) {
      if (texture.id == id) return texture.info;
    }
    return std::nullopt;
  }

  std::vector<int64_t> RegisteredIds() const {
    std::vector<int64_t> ids;
    for (const velmoran_host::RegisteredTexture& texture : engine_->textures(registrar_)) {
      ids.push_back(texture.id);
    }
    return ids;
  }

  FlutterDesktopPluginRegistrarRef registrar_;
  std::unique_ptr<TextureRegistrarImpl> textures_;
};

TEST_F(TextureRegistrarTest, APixelBufferTextureReachesTheEngineAsKindZeroWithItsAddress) {
  TextureVariant first{ConstantPixelBuffer(0)};
  TextureVariant second{ConstantPixelBuffer(1)};
  const int64_t first_id = textures_->RegisterTexture(&first);
  const int64_t second_id = textures_->RegisterTexture(&second);

  EXPECT_THAT(engine().TakeCallLog(), ElementsAre(kRegister, kRegister));
  EXPECT_THAT(RegisteredIds(), UnorderedElementsAre(first_id, second_id))
      << "the ids are the engine's, unchanged";
  const std::optional<FlutterDesktopTextureInfo> first_record = RecordOf(first_id);
  const std::optional<FlutterDesktopTextureInfo> second_record = RecordOf(second_id);
  ASSERT_TRUE(first_record.has_value());
  ASSERT_TRUE(second_record.has_value());
  // The callback is one function for every texture, which finds its texture by the user data;
  // that it reaches the right function is checked through the engine below.
  FlutterDesktopPixelBufferTextureCallback callback = first_record->pixel_buffer_config.callback;
  ASSERT_NE(callback, nullptr);
  EXPECT_EQ(BytesOf(*first_record), PixelBufferImage(callback, &first));
  EXPECT_EQ(BytesOf(*second_record), PixelBufferImage(callback, &second));
}

TEST_F(TextureRegistrarTest, AGpuSurfaceTextureReachesTheEngineAsKindOneWithItsTypeUnchanged) {
  const int32_t kSurfaceTypes[] = {
      0, 1, 2, -1, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()};
  for (int32_t surface_type : kSurfaceTypes) {
    SCOPED_TRACE(surface_type);
    TextureVariant texture{
        GpuSurfaceTexture(surface_type, [](size_t, size_t) { return FakeSurface(0); })};
    const int64_t id = textures_->RegisterTexture(&texture);

    EXPECT_THAT(engine().TakeCallLog(), ElementsAre(kRegister));
    const std::optional<FlutterDesktopTextureInfo> record = RecordOf(id);
    ASSERT_TRUE(record.has_value()) << "not registered under the id returned";
    FlutterDesktopGpuSurfaceTextureCallback callback = record->gpu_surface_config.callback;
    ASSERT_NE(callback, nullptr);
    EXPECT_EQ(BytesOf(*record), GpuSurfaceImage(surface_type, callback, &texture));

    textures_->UnregisterTexture(id);  // before the variant goes
    engine().TakeCallLog();
  }
}

TEST_F(TextureRegistrarTest, TheEngineReachesEachTexturesFunctionWithItsSizeAndGetsItsAnswer) {
  std::vector<Request> requests[3];
  TextureVariant first{PixelBufferTexture([&](size_t width, size_t height) {
    requests[0].emplace_back(width, height);
    return FakeBuffer(0);
  })};
  TextureVariant second{PixelBufferTexture([&](size_t width, size_t height) {
    requests[1].emplace_back(width, height);
    return FakeBuffer(1);
  })};
  TextureVariant surface{GpuSurfaceTexture(7, [&](size_t width, size_t height) {
    requests[2].emplace_back(width, height);
    return FakeSurface(0);
  })};
  const int64_t ids[] = {Register(first), Register(second), Register(surface)};
  const void* const answers[] = {FakeBuffer(0), FakeBuffer(1), FakeSurface(0)};

  constexpr size_t kMax = std::numeric_limits<size_t>::max();
  struct Row {
    size_t texture;
    size_t width;
    size_t height;
  };
  const Row rows[] = {{0, 640, 480}, {1, 0, 0}, {2, 1920, 1080}, {0, kMax, 1}, {2, 1, kMax}};
  for (const Row& row : rows) {
    SCOPED_TRACE("texture " + std::to_string(row.texture) + " at " + std::to_string(row.width) +
                 " x " + std::to_string(row.height));
    for (std::vector<Request>& seen : requests) seen.clear();

    const void* answer = row.texture == 2
                             ? static_cast<const void*>(engine().RequestGpuSurface(
                                   registrar_, ids[2], row.width, row.height))
                             : static_cast<const void*>(engine().RequestPixelBuffer(
                                   registrar_, ids[row.texture], row.width, row.height));

    EXPECT_EQ(answer, answers[row.texture]);
    for (size_t texture = 0; texture < 3; ++texture) {
      std::vector<Request> expected;
      if (texture == row.texture) expected.emplace_back(row.width, row.height);
      EXPECT_EQ(requests[texture], expected) << "requests reaching texture " << texture;
    }
  }
}

TEST_F(TextureRegistrarTest, WhatIsNoTextureIsRefusedWithoutAskingTheEngine) {
  TextureVariant valueless{ConstantPixelBuffer(0)};
  MakeValueless(valueless);
  ASSERT_TRUE(valueless.valueless_by_exception());

  struct Row {
    const char* name;
    TextureVariant* texture;
  };
  const Row rows[] = {{"null pointer", nullptr}, {"valueless variant", &valueless}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    int64_t id = 0;
    std::vector<std::string> lines =
        StderrLinesOf([&] { id = textures_->RegisterTexture(row.texture); });
    EXPECT_EQ(id, -1);
    EXPECT_THAT(lines, ElementsAre(kUnknownVariant));
    EXPECT_THAT(engine().TakeCallLog(), IsEmpty());
    EXPECT_THAT(RegisteredIds(), IsEmpty());
  }
}

TEST_F(TextureRegistrarTest, MarkingAFrameAvailablePassesOnTheEnginesAnswer) {
  TextureVariant texture{ConstantPixelBuffer(0)};
  TextureVariant gone{ConstantPixelBuffer(1)};
  const int64_t id = Register(texture);
  const int64_t gone_id = Register(gone);
  textures_->UnregisterTexture(gone_id);
  engine().TakeCallLog();

  struct Row {
    const char* name;
    int64_t id;
    bool known;
  };
  const Row rows[] = {{"registered", id, true},
                      {"registered, again", id, true},
                      {"unregistered", gone_id, false},
                      {"never registered", id + gone_id + 1000, false},
                      {"the failure id", -1, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(textures_->MarkTextureFrameAvailable(row.id), row.known);
    EXPECT_THAT(engine().TakeCallLog(), ElementsAre(kMark));
  }
  EXPECT_EQ(engine().frames_marked_available(registrar_, id), 2);
}

TEST_F(TextureRegistrarTest, UnregisteringWithoutACompletionAsksForNoCallback) {
  struct Row {
    const char* name;
    std::function<void(TextureRegistrar&, int64_t)> unregister;
  };
  const Row rows[] = {
      {"no completion",
       [](TextureRegistrar& textures, int64_t id) { EXPECT_TRUE(textures.UnregisterTexture(id)); }},
      {"empty completion",
       [](TextureRegistrar& textures, int64_t id) {
         textures.UnregisterTexture(id, std::function<void()>());
       }},
      {"null completion",
       [](TextureRegistrar& textures, int64_t id) { textures.UnregisterTexture(id, nullptr); }},
  };
  TextureVariant bystander{ConstantPixelBuffer(1)};
  const int64_t bystander_id = Register(bystander);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TextureVariant texture{ConstantPixelBuffer(0)};
    const int64_t id = Register(texture);
    engine().TakeCallLog();

    row.unregister(*textures_, id);

    EXPECT_THAT(engine().TakeCallLog(), ElementsAre(kUnregister));
    EXPECT_THAT(RegisteredIds(), ElementsAre(bystander_id));
    EXPECT_EQ(engine().CompleteUnregistrations(), 0u) << "a completion callback was given";
  }
}

TEST_F(TextureRegistrarTest, UnregisteringAnUnknownTextureStillReportsTrue) {
  EXPECT_TRUE(textures_->UnregisterTexture(4242));
  EXPECT_THAT(engine().TakeCallLog(), ElementsAre(kUnregister));
  EXPECT_EQ(engine().CompleteUnregistrations(), 0u);
}

// A registrar that handles unregistration itself, in the slot with the completion.
class UnregistrationRecorder : public TextureRegistrarImpl {
 public:
  using TextureRegistrarImpl::TextureRegistrarImpl;
  using TextureRegistrarImpl::UnregisterTexture;

  void UnregisterTexture(int64_t texture_id, std::function<void()> completion) override {
    calls.emplace_back(texture_id, static_cast<bool>(completion));
  }

  std::vector<std::pair<int64_t, bool>> calls;  // id, whether a completion was given
};

TEST_F(TextureRegistrarTest, UnregisteringWithoutACompletionGoesThroughTheOverridableSlot) {
  UnregistrationRecorder recorder(engine().texture_registrar(registrar_));
  engine().TakeCallLog();
  TextureRegistrar& textures = recorder;

  EXPECT_TRUE(textures.UnregisterTexture(42));

  EXPECT_THAT(recorder.calls, ElementsAre(std::make_pair(int64_t{42}, false)));
  EXPECT_THAT(engine().TakeCallLog(), IsEmpty());
}

TEST_F(TextureRegistrarTest, ACompletionRunsOnceWhenTheEngineIsDoneAndNotBefore) {
  TextureVariant first{ConstantPixelBuffer(0)};
  TextureVariant second{ConstantPixelBuffer(1)};
  const int64_t first_id = Register(first);
  const int64_t second_id = Register(second);
  engine().TakeCallLog();
  auto witness = std::make_shared<int>(0);
  std::vector<std::string> completed;

  textures_->UnregisterTexture(first_id, [witness, &completed] { completed.push_back("first"); });
  textures_->UnregisterTexture(second_id, [&completed] { completed.push_back("second"); });

  EXPECT_THAT(engine().TakeCallLog(), ElementsAre(kUnregister, kUnregister));
  EXPECT_THAT(RegisteredIds(), IsEmpty());
  EXPECT_THAT(completed, IsEmpty()) << "a completion ran before the engine was done";
  EXPECT_EQ(witness.use_count(), 2) << "the completion was not kept for the engine";

  EXPECT_EQ(engine().CompleteUnregistrations(), 2u);
  EXPECT_THAT(completed, UnorderedElementsAre("first", "second"));
  EXPECT_EQ(witness.use_count(), 1) << "the completion was not destroyed after its call";

  EXPECT_EQ(engine().CompleteUnregistrations(), 0u);
  EXPECT_EQ(completed.size(), 2u);
}

TEST_F(TextureRegistrarTest, CreatingAndDestroyingTheRegistrarTellsTheEngineNothing) {
  TextureVariant texture{ConstantPixelBuffer(0)};
  const int64_t id = Register(texture);
  FlutterDesktopTextureRegistrarRef handle = engine().texture_registrar(registrar_);
  engine().TakeCallLog();

  auto other = std::make_unique<TextureRegistrarImpl>(handle);
  EXPECT_EQ(other->engine_texture_registrar(), handle);
  other.reset();
  textures_.reset();

  EXPECT_THAT(engine().TakeCallLog(), IsEmpty());
  EXPECT_THAT(RegisteredIds(), ElementsAre(id)) << "textures outlive the registrar object";
  EXPECT_EQ(engine().RequestPixelBuffer(registrar_, id, 1, 1), FakeBuffer(0));
}

// Registration takes a texture as it is; if it cannot answer when the engine asks, because it
// holds no function or no longer holds the kind it was registered as, the engine gets null
// instead of the process ending.
TEST_F(TextureRegistrarTest, ATextureThatCannotAnswerGivesTheEngineNull) {
  int replacement_calls = 0;
  auto pixel_replacement = [&](size_t, size_t) {
    ++replacement_calls;
    return FakeBuffer(1);
  };
  auto surface_replacement = [&](size_t, size_t) {
    ++replacement_calls;
    return FakeSurface(1);
  };
  struct Row {
    const char* name;
    TextureVariant registered;
    std::function<void(TextureVariant&)> change;  // after registration
  };
  const Row rows[] = {
      {"pixel buffer texture without a function", TextureVariant{PixelBufferTexture(nullptr)},
       [](TextureVariant&) {}},
      {"GPU surface texture without a function", TextureVariant{GpuSurfaceTexture(1, nullptr)},
       [](TextureVariant&) {}},
      {"pixel buffer texture replaced by a GPU surface texture",
       TextureVariant{ConstantPixelBuffer(0)},
       [&](TextureVariant& texture) {
         texture.emplace<GpuSurfaceTexture>(1, surface_replacement);
       }},
      {"GPU surface texture replaced by a pixel buffer texture",
       TextureVariant{GpuSurfaceTexture(1, [](size_t, size_t) { return FakeSurface(0); })},
       [&](TextureVariant& texture) { texture.emplace<PixelBufferTexture>(pixel_replacement); }},
      {"pixel buffer texture left valueless", TextureVariant{ConstantPixelBuffer(0)},
       [](TextureVariant& texture) {
         MakeValueless(texture);
         ASSERT_TRUE(texture.valueless_by_exception());
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TextureVariant texture = row.registered;
    const bool pixel_buffer = texture.index() == 0;
    const int64_t id = Register(texture);
    row.change(texture);

    const void* answer =
        pixel_buffer ? static_cast<const void*>(engine().RequestPixelBuffer(registrar_, id, 4, 4))
                     : static_cast<const void*>(engine().RequestGpuSurface(registrar_, id, 4, 4));

    EXPECT_EQ(answer, nullptr);
    EXPECT_EQ(replacement_calls, 0) << "the engine reached a texture of the other kind";
    textures_->UnregisterTexture(id);
  }
}

}  // namespace
}  // namespace flutter
