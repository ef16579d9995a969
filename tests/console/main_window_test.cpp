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
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <cmath>

#include "dialogs/AboutDlg.h"
#include "console_window_fixture.h"
#include "window_actions.h"
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
    // The full rectangle is the whole template with its frame: as tall as
    // the template, at least as wide (its horizontal unit may be wider, for
    // the values to fit their fields).
    EXPECT_GE(full.width() - frame.left() - frame.right(), 816);
    EXPECT_EQ(full.height() - frame.top() - frame.bottom(), 629);
    // Frame widths, wide and narrow: 360/537 of the whole frame, cut.
    const std::pair<int, int> widths = {full.width(), CConsoleDlg::NarrowWidth(full.width())};
    const QPoint position = dlg.frameGeometry().topLeft();
    struct Step {
      bool apply, wide;
    };
    const Step steps[] = {{false, false}, {true, true}, {true, false}, {true, true}};
    for (const Step& step : steps) {
      if (step.apply) dlg.SetLayout(step.wide);
      QCoreApplication::processEvents();
      SCOPED_TRACE(step.wide ? "wide" : "narrow");
      EXPECT_EQ(dlg.frameGeometry().width(), step.wide ? widths.first : widths.second);
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
    // No template placeholder anywhere on screen, labels without an id too.
    for (const QLabel* label : dlg.findChildren<QLabel*>())
      EXPECT_NE(label->text(), QStringLiteral("Static")) << qPrintable(label->objectName());
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
    // The closed list names the chosen entry's device.
    EXPECT_EQ(ports->toolTip(), QString::fromStdString(m_server.DevicePath()));
    ports->setCurrentIndex(2);
    EXPECT_EQ(ports->toolTip(), QStringLiteral("/dev/ttyS2"));
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

// Esc backs out of nothing in the main window, wherever the focus is and
// while monitoring runs; the close box still ends the window.
TEST_F(ConsoleWindowTest, EscLeavesTheWindowOpenTheCloseBoxEndsIt) {
  const int focusIds[] = {IDC_LINE_LENGTH, IDC_ALARM_LIST, IDC_WORK_MODE, IDC_READ_LINE_LENGTH};
  bool closed = false;
  EXPECT_EQ(RunWindow([&](CConsoleDlg& dlg) {
              qobject_cast<QAbstractButton*>(dlg.GetDlgItem(IDC_START_DETECTION))->click();
              const QString caption = dlg.GetDlgItemText(IDC_START_DETECTION);
              for (int id : focusIds) {
                QWidget* focus = dlg.GetDlgItem(id);
                focus->setFocus();
                QTest::keyClick(focus, Qt::Key_Escape);
                QTest::keyClick(&dlg, Qt::Key_Escape);
                EXPECT_TRUE(dlg.isVisible()) << "focus on " << id;
              }
              EXPECT_EQ(dlg.GetDlgItemText(IDC_START_DETECTION), caption);
              EXPECT_EQ(caption, QStringLiteral("停止读取"));
              dlg.close();
              closed = !dlg.isVisible();
            }),
            IDCANCEL);
  EXPECT_TRUE(closed);
  EXPECT_EQ(PortHandle, nullptr);
}

TEST_F(ConsoleWindowTest, AboutBoxFromTheContextMenu) {
  RunWindow([&](CConsoleDlg& dlg) {
    QMenu* menu = dlg.SystemMenu();
    ASSERT_NE(menu, nullptr);
    QStringList entries;
    for (const QAction* action : menu->actions()) entries << action->text();
    ASSERT_EQ(entries, WindowMenuEntries());
    QAction* about = menu->actions().first();

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

// Every value field shows its longest value whole, measured with the font
// the window uses: an edit's text must not scroll, a static's not be cut.
// The suite runs at scale 1 and again at scale 2 (QT_SCALE_FACTOR).
TEST_F(ConsoleWindowTest, ValueFieldsShowTheirLongestValueWhole) {
  const char* const kFloat = "-1000.000000";
  const std::pair<int, const char*> fields[] = {
      {IDC_LINE_LENGTH, "655.35"},      {IDC_RESISTIVITY, kFloat},     {IDC_A0_RESISTANCE, kFloat},
      {IDC_LINE_RESISTANCE, kFloat},    {IDC_CURRENT, "-1000.00"},     {IDC_SOURCE_VOLTAGE1, kFloat},
      {IDC_SOURCE_VOLTAGE2, kFloat},    {IDC_A0_CAL_VOLTAGE1, kFloat}, {IDC_A0_CAL_VOLTAGE2, kFloat},
      {IDC_A1_CAL_VOLTAGE1, kFloat},    {IDC_A1_CAL_VOLTAGE2, kFloat}, {IDC_A2_CAL_VOLTAGE1, kFloat},
      {IDC_A2_CAL_VOLTAGE2, kFloat},    {IDC_A0_COEFFICIENT, kFloat},  {IDC_A1_COEFFICIENT1, kFloat},
      {IDC_A1_COEFFICIENT4, kFloat},    {IDC_A2_COEFFICIENT, kFloat},
  };
  const double scale = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
                           ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble()
                           : 1.0;
  RunWindow([&](CConsoleDlg& dlg) {
    dlg.SetLayout(true);  // the calibration panel's fields too
    EXPECT_DOUBLE_EQ(dlg.devicePixelRatioF(), scale);
    for (const auto& [id, text] : fields) {
      SCOPED_TRACE(id);
      QWidget* field = dlg.GetDlgItem(id);
      ASSERT_NE(field, nullptr);
      const QFontMetricsF metrics(field->font());
      const double advance = metrics.horizontalAdvance(QString::fromUtf8(text));
      if (auto* edit = qobject_cast<QLineEdit*>(field)) {
        // QLineEdit's text room: the style's contents less its 2-pixel margins.
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
        const QRect contents = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
        EXPECT_LE(std::lround(advance) + 1, contents.width() - 4) << text;
      } else {
        EXPECT_LE(advance, field->contentsRect().width()) << text;
      }
    }
    // The unit beside a field starts where the field ends.
    EXPECT_GE(dlg.findChild<QWidget*>(QStringLiteral("lbl_resistivity_unit"))->x(),
              dlg.GetDlgItem(IDC_RESISTIVITY)->geometry().right());
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
