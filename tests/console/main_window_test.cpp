// The main window after start-up: control states, layouts, keyboard, the
// About box, accessibility.
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "AboutDlg.h"
#include "console_window_fixture.h"
#include "resource.h"
#include "serial_port.h"
#include "warning_collector.h"

#if __has_include("template_tables.h")
#include "template_tables.h"
#define QD_HAVE_TEMPLATE_TABLES 1
#endif

namespace {

QWidget* Panel(const CConsoleDlg& dlg) {
  return dlg.findChild<QWidget*>(QStringLiteral("calibrationPanel"));
}

QMargins Frame(const QWidget& w) {
  const QRect frame = w.frameGeometry(), client = w.geometry();
  return {client.left() - frame.left(), client.top() - frame.top(),
          frame.right() - client.right(), frame.bottom() - client.bottom()};
}

// Presses Tab over and over from the address edit; every widget that took
// the focus on the way.
std::set<QWidget*> WalkTabChain(CConsoleDlg& dlg) {
  dlg.activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(&dlg));
  dlg.GetDlgItem(IDC_ADDRESS)->setFocus(Qt::TabFocusReason);
  std::set<QWidget*> reached;
  for (int i = 0; i < 150; ++i) {
    QTest::keyClick(dlg.focusWidget(), Qt::Key_Tab);
    reached.insert(dlg.focusWidget());
  }
  return reached;
}

TEST_F(ConsoleWindowTest, EveryCommandOfTheMessageMapFindsItsControl) {
  WarningCollector warnings;
  CConsoleDlg dlg;
  EXPECT_TRUE(warnings.Messages().isEmpty()) << warnings.Messages().join('\n').toStdString();
}

TEST(ConsoleLayout, NarrowWidthIs360Of537Truncated) {
  const std::pair<int, int> cases[] = {{1074, 720}, {816, 547}, {820, 549}, {537, 360}, {536, 359}, {0, 0}};
  for (const auto& [full, narrow] : cases) EXPECT_EQ(CConsoleDlg::NarrowWidth(full), narrow) << full;
}

TEST_F(ConsoleWindowTest, NarrowAtStartWideRestoresTheFullWidth) {
  RunWindow([&](CConsoleDlg& dlg) {
    const QRect full = dlg.FullRect();
    const QMargins frame = Frame(dlg);
    // The full rectangle is the whole template with its frame.
    EXPECT_EQ(full.width() - frame.left() - frame.right(), 816);
    EXPECT_EQ(full.height() - frame.top() - frame.bottom(), 629);
    // Frame widths, wide and narrow, by the width of the frame's two sides:
    // 360/537 of the whole frame, cut (no frame: 816 -> 547; the offscreen
    // platform's 2-pixel sides: 820 -> 549).
    const std::map<int, std::pair<int, int>> kWidths = {{0, {816, 547}}, {4, {820, 549}}};
    const auto widths = kWidths.find(frame.left() + frame.right());
    ASSERT_NE(widths, kWidths.end()) << "no widths known for this frame";
    const QPoint position = dlg.frameGeometry().topLeft();
    struct Step {
      bool apply, wide;
    };
    const Step steps[] = {{false, false}, {true, true}, {true, false}, {true, true}};
    for (const Step& step : steps) {
      if (step.apply) dlg.SetLayout(step.wide);
      QCoreApplication::processEvents();
      SCOPED_TRACE(step.wide ? "wide" : "narrow");
      EXPECT_EQ(dlg.frameGeometry().width(), step.wide ? widths->second.first : widths->second.second);
      EXPECT_EQ(dlg.frameGeometry().height(), full.height());
      EXPECT_EQ(dlg.frameGeometry().topLeft(), position);
      EXPECT_EQ(Panel(dlg)->isVisible(), step.wide);
      if (!step.wide) {
        EXPECT_GE(Panel(dlg)->x(), dlg.width());  // wholly cut off
      }
    }
  });
}

TEST_F(ConsoleWindowTest, NoCalibrationControlTakesTabInTheNarrowLayout) {
  RunWindow([&](CConsoleDlg& dlg) {
    ASSERT_NE(Panel(dlg), nullptr);
    const std::set<QWidget*> narrow = WalkTabChain(dlg);
    EXPECT_GT(narrow.size(), 20u);
    for (QWidget* w : narrow)
      EXPECT_FALSE(Panel(dlg)->isAncestorOf(w)) << w->objectName().toStdString();

    dlg.SetLayout(true);
    const std::set<QWidget*> wide = WalkTabChain(dlg);
    EXPECT_TRUE(wide.count(dlg.GetDlgItem(IDC_SOURCE_VOLTAGE1)));
  });
}

#ifdef QD_HAVE_TEMPLATE_TABLES
bool IsKind(const QWidget* w, templates::Kind kind) {
  using templates::Kind;
  switch (kind) {
    case Kind::Edit: return qobject_cast<const QLineEdit*>(w);
    case Kind::Combo: return qobject_cast<const QComboBox*>(w);
    case Kind::PushButton: return qobject_cast<const QPushButton*>(w);
    case Kind::CheckBox: return qobject_cast<const QCheckBox*>(w);
    case Kind::Radio: return qobject_cast<const QRadioButton*>(w);
    case Kind::Static: return qobject_cast<const QLabel*>(w);
    case Kind::List: return qobject_cast<const QTreeWidget*>(w);
    case Kind::Progress: return qobject_cast<const QProgressBar*>(w);
  }
  return false;
}
#endif

TEST_F(ConsoleWindowTest, ControlStatesAfterStartup) {
#ifndef QD_HAVE_TEMPLATE_TABLES
  GTEST_SKIP() << "tests/res/template_tables.h is not there";
#else
  // What start-up changes on top of the template: selections, texts, checks.
  const std::map<int, const char*> startupTexts = {
      {IDC_WORK_MODE, "测量模式"}, {IDC_PORT, "Com1"}, {IDC_BAUD, "9600"},
      {IDC_ADDRESS, "1"},         {IDC_NEW_BAUD, "9600"}, {IDC_NEW_ADDRESS, "1"},
  };
  const std::set<int> checked = {IDC_SEARCH_9600, IDC_BUZZER_OFF, IDC_AUTORES_OFF};
  RunWindow([&](CConsoleDlg& dlg) {
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("QD-7420A_ver.1.1"));
    EXPECT_FALSE(dlg.windowIcon().isNull());
    for (const templates::Control& c : templates::kConsoleControls) {
      SCOPED_TRACE("id " + std::to_string(c.id));
      const QWidget* w = dlg.GetDlgItem(c.id);
      ASSERT_NE(w, nullptr);
      EXPECT_TRUE(IsKind(w, c.kind));
      EXPECT_EQ(w->isHidden(), (c.flags & templates::kHidden) != 0);
      EXPECT_EQ(w->isEnabled(), (c.flags & templates::kDisabled) == 0);
      const auto text = startupTexts.find(c.id);
      const QString expected = QString::fromUtf8(text != startupTexts.end() ? text->second : c.text);
      EXPECT_EQ(dlg.GetDlgItemText(c.id).remove(QLatin1Char('\n')), expected);
      if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        EXPECT_EQ(button->isChecked(), checked.count(c.id) == 1);
      }
    }
    // A list the start-up selected nothing in has no selection.
    EXPECT_EQ(dlg.GetComboSel(IDC_A1_RANGE), -1);
  });
#endif
}

TEST_F(ConsoleWindowTest, AlarmListColumns) {
  RunWindow([&](CConsoleDlg& dlg) {
    auto* list = qobject_cast<QTreeWidget*>(dlg.GetDlgItem(IDC_ALARM_LIST));
    ASSERT_NE(list, nullptr);
    const QStringList titles = {QStringLiteral("编号"), QStringLiteral("时间"),
                                QStringLiteral("告警类型"), QStringLiteral("告警长度")};
    const int widths[] = {70, 150, 150, 150};
    ASSERT_EQ(list->columnCount(), 4);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(list->headerItem()->text(i), titles[i]);
      EXPECT_EQ(list->columnWidth(i), widths[i]);
      EXPECT_EQ(list->headerItem()->textAlignment(i) & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    }
  });
}

TEST_F(ConsoleWindowTest, PortEntriesShowTheirDevice) {
  RunWindow([&](CConsoleDlg& dlg) {
    auto* ports = qobject_cast<QComboBox*>(dlg.GetDlgItem(IDC_PORT));
    ASSERT_NE(ports, nullptr);
    ASSERT_EQ(ports->count(), 9);
    EXPECT_EQ(ports->itemText(0), QStringLiteral("Com1"));
    EXPECT_EQ(ports->itemData(0, Qt::ToolTipRole).toString(),
              QString::fromStdString(m_server.DevicePath()));
    EXPECT_EQ(ports->itemData(1, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyS1"));
  });
}

TEST_F(ConsoleWindowTest, EnterDoesNothing) {
  const int focusIds[] = {IDC_LINE_LENGTH, IDC_ADDRESS, IDC_PORT, IDC_SEARCH_9600, IDC_BUZZER_OFF,
                          IDC_ALARM_LIST};
  RunWindow([&](CConsoleDlg& dlg) {
    const size_t frames = Frames().size();
    const QStringList before = Snapshot(dlg);
    for (int id : focusIds) {
      QWidget* focus = dlg.GetDlgItem(id);
      focus->setFocus();
      QTest::keyClick(focus, Qt::Key_Return);
      QTest::keyClick(focus, Qt::Key_Enter, Qt::KeypadModifier);
      QCoreApplication::processEvents();
      EXPECT_TRUE(dlg.isVisible()) << "focus on " << id;
    }
    EXPECT_EQ(Snapshot(dlg), before);
    EXPECT_EQ(Frames().size(), frames);
    EXPECT_TRUE(m_messages.shown.empty());
  });
}

TEST_F(ConsoleWindowTest, EscAndTheCloseBoxEndTheWindow) {
  const std::function<void(CConsoleDlg&)> ends[] = {
      [](CConsoleDlg& dlg) { QTest::keyClick(dlg.GetDlgItem(IDC_LINE_LENGTH), Qt::Key_Escape); },
      [](CConsoleDlg& dlg) { dlg.close(); },
  };
  for (const auto& end : ends) {
    bool closed = false;
    EXPECT_EQ(RunWindow([&](CConsoleDlg& dlg) {
                end(dlg);
                closed = !dlg.isVisible();
              }),
              IDCANCEL);
    EXPECT_TRUE(closed);
  }
}

TEST_F(ConsoleWindowTest, AboutBoxFromTheContextMenu) {
  RunWindow([&](CConsoleDlg& dlg) {
    QMenu* menu = dlg.SystemMenu();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 2);
    QAction* about = menu->actions().first();
    EXPECT_EQ(about->text(), QStringLiteral("关于 QD7420(&A)..."));
    EXPECT_EQ(menu->actions().at(1)->text(), QStringLiteral("通讯记录"));

    // A right click on the window's background offers it.
    const QPoint where(20, dlg.height() - 8);
    QContextMenuEvent click(QContextMenuEvent::Mouse, where, dlg.mapToGlobal(where));
    QApplication::sendEvent(&dlg, &click);
    EXPECT_TRUE(menu->isVisible());
    menu->hide();

    const QStringList before = Snapshot(dlg);
    const QRect geometry = dlg.frameGeometry();
    QString caption;
    QStringList texts;
    QTimer::singleShot(0, &dlg, [&] {
      auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
      if (!box) return ADD_FAILURE() << "no About box";
      caption = box->windowTitle();
      for (const QLabel* label : box->findChildren<QLabel*>()) texts << label->text();
      auto* ok = box->findChild<QPushButton*>(QStringLiteral("id1"));
      EXPECT_TRUE(ok && ok->text() == QStringLiteral("确定"));
      if (ok)
        ok->click();
      else
        box->reject();
    });
    about->trigger();  // runs the About box modally until "确定"
    EXPECT_EQ(caption, QStringLiteral("关于 QD7420"));
    EXPECT_TRUE(texts.contains(QStringLiteral("QD7420 1.0 版")));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.frameGeometry(), geometry);
    EXPECT_EQ(Snapshot(dlg), before);
    EXPECT_FALSE(dlg.OnQueryDragIcon().isNull());
  });
}

TEST_F(ConsoleWindowTest, EditsAreNamedByTheirLabels) {
  RunWindow([&](CConsoleDlg& dlg) {
    QAccessibleInterface* edit = QAccessible::queryAccessibleInterface(dlg.GetDlgItem(IDC_LINE_LENGTH));
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(QAccessible::Name), QStringLiteral("A线长："));
  });
}

}  // namespace
