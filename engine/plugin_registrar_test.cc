#include "engine/plugin_registrar.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/binary_messenger_impl.h"
#include "engine/plugin_registrar_manager.h"
#include "tests/headless_engine_fixture.h"

namespace flutter {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::vector<std::string> kRegistrarQueries = {"FlutterDesktopPluginRegistrarGetMessenger",
                                                    "FlutterDesktopRegistrarGetTextureRegistrar",
                                                    "FlutterDesktopPluginRegistrarGetView"};

// A plugin that notes its destruction, and checks that the registrar's objects still work then.
class WitnessPlugin : public Plugin {
 public:
  WitnessPlugin(std::string name, std::vector<std::string>* events, PluginRegistrar* registrar)
      : name_(std::move(name)), events_(events), registrar_(registrar) {}
  ~WitnessPlugin() override {
    events_->push_back("plugin " + name_);
    if (registrar_ != nullptr) {
      // Both still live: the messenger reaches the engine, the texture registrar too.
      registrar_->GetMessenger()->SetMessageHandler("from-destructor-" + name_, nullptr);
      registrar_->GetTextureRegistrar()->MarkTextureFrameAvailable(42);
    }
  }

 private:
  std::string name_;
  std::vector<std::string>* events_;
  PluginRegistrar* registrar_;
};

// Notes when the handler that holds it is destroyed.
struct HandlerWitness {
  std::vector<std::string>* events;
  ~HandlerWitness() { events->push_back("handler"); }
};

class PluginRegistrarTest : public velmoran_testing::HeadlessEngineTest {};

TEST_F(PluginRegistrarTest, ConstructionQueriesMessengerTextureRegistrarAndViewInOrder) {
  FlutterDesktopPluginRegistrarRef handle = engine().CreateRegistrar();
  engine().TakeCallLog();
  auto registrar = std::make_unique<PluginRegistrarWindows>(handle);
  EXPECT_EQ(engine().TakeCallLog(), kRegistrarQueries);
  EXPECT_EQ(registrar->engine_registrar(), handle);
  EXPECT_EQ(static_cast<BinaryMessengerImpl*>(registrar->GetMessenger())->engine_messenger(),
            engine().messenger(handle));
  EXPECT_EQ(registrar->GetView()->engine_view(), engine().view(handle));
  EXPECT_NE(registrar->GetView()->engine_view(), nullptr);
  registrar.reset();
  EXPECT_THAT(engine().TakeCallLog(), IsEmpty()) << "destruction must not call the engine";
}

TEST_F(PluginRegistrarTest, ANullViewStillGivesAView) {
  FlutterDesktopPluginRegistrarRef handle = engine().CreateRegistrar({nullptr, false});
  PluginRegistrarWindows registrar(handle);
  ASSERT_NE(registrar.GetView(), nullptr);
  EXPECT_EQ(registrar.GetView()->engine_view(), nullptr);
}

TEST_F(PluginRegistrarTest, PluginsGoFirstHighestAddressFirstThenTheMessengerWithItsHandlers) {
  std::vector<std::string> events;
  FlutterDesktopPluginRegistrarRef handle = engine().CreateRegistrar();
  auto registrar = std::make_unique<PluginRegistrarWindows>(handle);
  BinaryMessenger* messenger = registrar->GetMessenger();
  std::shared_ptr<HandlerWitness> witness(new HandlerWitness{&events});
  messenger->SetMessageHandler("chan", [witness](const uint8_t*, size_t, BinaryReply) {});
  witness.reset();

  std::vector<std::unique_ptr<WitnessPlugin>> plugins;
  for (const char* name : {"a", "b", "c"}) {
    plugins.push_back(std::make_unique<WitnessPlugin>(name, &events, registrar.get()));
  }
  std::vector<std::pair<const Plugin*, std::string>> by_address;
  for (size_t i = 0; i < plugins.size(); ++i) {
    by_address.emplace_back(plugins[i].get(), std::string("plugin ") + "abc"[i]);
  }
  std::sort(by_address.rbegin(), by_address.rend());
  for (auto& plugin : plugins) registrar->AdoptPlugin(std::move(plugin));
  EXPECT_EQ(registrar->GetMessenger(), messenger);
  engine().TakeCallLog();

  registrar.reset();

  std::vector<std::string> expected;
  for (const auto& entry : by_address) expected.push_back(entry.second);
  expected.push_back("handler");
  EXPECT_EQ(events, expected);
  // Only what the plugins' destructors did reached the engine.
  EXPECT_THAT(engine().TakeCallLog(),
              ElementsAre("FlutterDesktopMessengerSetCallback",
                          "FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable",
                          "FlutterDesktopMessengerSetCallback",
                          "FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable",
                          "FlutterDesktopMessengerSetCallback",
                          "FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable"));
}

TEST_F(PluginRegistrarTest, ARegistrarWithoutPluginsGoesQuietly) {
  FlutterDesktopPluginRegistrarRef handle = engine().CreateRegistrar();
  auto registrar = std::make_unique<PluginRegistrarWindows>(handle);
  engine().TakeCallLog();
  registrar.reset();
  EXPECT_THAT(engine().TakeCallLog(), IsEmpty());
}

class PluginRegistrarManagerTest : public velmoran_testing::HeadlessEngineTest {
 protected:
  PluginRegistrarManager& manager() { return *PluginRegistrarManager::GetInstance(); }
};

TEST_F(PluginRegistrarManagerTest, OneRegistrarPerHandle) {
  FlutterDesktopPluginRegistrarRef first = engine().CreateRegistrar();
  FlutterDesktopPluginRegistrarRef second = engine().CreateRegistrar();
  engine().TakeCallLog();

  PluginRegistrarWindows* registrar = manager().GetRegistrar(first);
  std::vector<std::string> expected = kRegistrarQueries;
  expected.push_back("FlutterDesktopPluginRegistrarSetDestructionHandler");
  EXPECT_EQ(engine().TakeCallLog(), expected);
  EXPECT_TRUE(engine().HasDestructionHandler(first));

  // Again: a registrar is built and dropped at once, and the handler is set again.
  EXPECT_EQ(manager().GetRegistrar(first), registrar);
  EXPECT_EQ(engine().TakeCallLog(), expected);

  PluginRegistrarWindows* other = manager().GetRegistrar(second);
  EXPECT_NE(other, registrar);
  EXPECT_NE(other->GetMessenger(), registrar->GetMessenger());
}

TEST_F(PluginRegistrarManagerTest, TheEnginesDestructionHandlerDestroysTheRegistrar) {
  std::vector<std::string> events;
  FlutterDesktopPluginRegistrarRef handle = engine().CreateRegistrar();
  PluginRegistrarWindows* registrar = manager().GetRegistrar(handle);
  registrar->AdoptPlugin(std::make_unique<WitnessPlugin>("only", &events, nullptr));
  engine().TakeCallLog();

  engine().DestroyRegistrar(handle);
  EXPECT_THAT(events, ElementsAre("plugin only"));
  EXPECT_THAT(engine().TakeCallLog(), IsEmpty()) << "teardown must not call the engine";

  // The engine may hand out the same handle value again: it gets a fresh registrar.
  FlutterDesktopPluginRegistrarRef again = engine().CreateRegistrar({handle, true});
  ASSERT_EQ(again, handle);
  PluginRegistrarWindows* fresh = manager().GetRegistrar(again);
  fresh->AdoptPlugin(std::make_unique<WitnessPlugin>("fresh", &events, nullptr));
  engine().DestroyRegistrar(again);
  EXPECT_THAT(events, ElementsAre("plugin only", "plugin fresh"));
}

TEST_F(PluginRegistrarManagerTest, DestroyingOneRegistrarLeavesTheOthers) {
  std::vector<std::string> events;
  FlutterDesktopPluginRegistrarRef first = engine().CreateRegistrar();
  FlutterDesktopPluginRegistrarRef second = engine().CreateRegistrar();
  manager().GetRegistrar(first)->AdoptPlugin(
      std::make_unique<WitnessPlugin>("first", &events, nullptr));
  PluginRegistrarWindows* kept = manager().GetRegistrar(second);
  kept->AdoptPlugin(std::make_unique<WitnessPlugin>("second", &events, nullptr));

  engine().DestroyRegistrar(first);
  EXPECT_THAT(events, ElementsAre("plugin first"));
  EXPECT_EQ(manager().GetRegistrar(second), kept);
  engine().DestroyRegistrar(second);
  EXPECT_THAT(events, ElementsAre("plugin first", "plugin second"));
}

}  // namespace
}  // namespace flutter
