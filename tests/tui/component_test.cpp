#include "tui/component/component.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tui/render_lines.h"

namespace {

using tui::Event;

TEST(ComponentTest, RendererDrawsItsFunctionAndConsumesNothing) {
  tui::Component component = tui::Renderer([] { return tui::text("hello"); });
  EXPECT_EQ(tui_test::RenderLines(component->Render(), 5, 1).front(), "hello");
  EXPECT_FALSE(component->OnEvent(Event::Return));
  EXPECT_FALSE(component->OnEvent(Event::Character('x')));
}

TEST(ComponentTest, RendererWithAChildDrawsOnlyItsFunctionAndPassesEventsOn) {
  std::vector<std::string> seen;
  tui::Component child =
      tui::Renderer([] { return tui::text("child"); }) | tui::CatchEvent([&](Event event) {
        seen.push_back(event.input());
        return event == Event::Tab;
      });
  tui::Component without_child = tui::Renderer(child, [] { return tui::text("outer"); });
  tui::Component with_child = tui::Renderer(child, [&] {
    return tui::hbox({tui::text("<"), child->Render(), tui::text(">")});
  });

  EXPECT_EQ(tui_test::RenderLines(without_child->Render(), 7, 1).front(), "outer  ");
  EXPECT_EQ(tui_test::RenderLines(with_child->Render(), 7, 1).front(), "<child>");
  EXPECT_TRUE(without_child->OnEvent(Event::Tab));
  EXPECT_FALSE(without_child->OnEvent(Event::Escape));
  EXPECT_EQ(seen, (std::vector<std::string>{"\t", "\x1b"}));
}

TEST(ComponentTest, CatchEventSeesEventsFirstAndPassesOnlyRefusedOnes) {
  std::vector<std::string> order;
  tui::Component inner =
      tui::Renderer([] { return tui::text("x"); }) | tui::CatchEvent([&](Event event) {
        order.push_back("inner " + event.input());
        return true;
      });
  tui::Component root = inner;
  root |= tui::CatchEvent([&](Event event) {
    order.push_back("outer " + event.input());
    return event == Event::Character('q');
  });

  EXPECT_TRUE(root->OnEvent(Event::Character('q')));
  EXPECT_TRUE(root->OnEvent(Event::Character('a')));
  EXPECT_EQ(order, (std::vector<std::string>{"outer q", "outer a", "inner a"}));
}

// The tree the program builds: a global catcher over a renderer whose child is the browser's
// catcher over the browser's renderer.
TEST(ComponentTest, EventsReachTheInnerCatcherOnlyThroughTheOuterOne) {
  int browser_events = 0;
  bool overlay_open = true;
  tui::Component browser =
      tui::Renderer([] { return tui::text("rows"); }) | tui::CatchEvent([&](Event event) {
        if (event == Event::ArrowDown) {
          ++browser_events;
          return true;
        }
        return false;
      });
  tui::Component root = tui::Renderer(browser, [&] { return tui::border(browser->Render()); });
  root |= tui::CatchEvent([&](Event event) {
    if (overlay_open) {
      overlay_open = event != Event::Escape;
      return true;
    }
    return false;
  });

  EXPECT_TRUE(root->OnEvent(Event::ArrowDown));
  EXPECT_EQ(browser_events, 0);
  EXPECT_TRUE(root->OnEvent(Event::Escape));
  EXPECT_TRUE(root->OnEvent(Event::ArrowDown));
  EXPECT_EQ(browser_events, 1);
  EXPECT_FALSE(root->OnEvent(Event::ArrowUp));
  // The catcher draws its child, the renderer's function.
  EXPECT_EQ(tui_test::RenderLines(root->Render(), 6, 3)[1], "│rows│");
}

TEST(ComponentTest, BaseComponentOffersEventsToChildrenInOrder) {
  std::vector<int> offered;
  tui::Component parent = std::make_shared<tui::ComponentBase>();
  for (int index = 0; index < 3; ++index) {
    parent->Add(tui::Renderer([] { return tui::text(""); }) | tui::CatchEvent([&, index](Event) {
                  offered.push_back(index);
                  return index == 1;
                }));
  }
  parent->Add(nullptr);
  EXPECT_TRUE(parent->OnEvent(Event::Custom));
  EXPECT_EQ(offered, (std::vector<int>{0, 1}));
  // More than one child: nothing to draw by default.
  EXPECT_EQ(tui_test::RenderLines(parent->Render(), 2, 1).front(), "  ");
}

TEST(ComponentTest, EmptyFunctionsAndDecoratorsAreHarmless) {
  tui::Component component = tui::Renderer(std::function<tui::Element()>{});
  EXPECT_EQ(tui_test::RenderLines(component->Render(), 1, 1).front(), " ");
  component |= tui::CatchEvent(std::function<bool(Event)>{});
  EXPECT_FALSE(component->OnEvent(Event::Return));
  EXPECT_EQ(component | tui::ComponentDecorator{}, component);
}

}  // namespace
