// The user's journey through the Linux edition's real window, in process: the window is built as
// the program builds it, driven with Qt Test's keys and clicks, and its downloads go through the
// real engine to the bed's HTTPS server. Modal boxes and the Save As dialog are answered from a
// timer inside their own event loops, as a user would answer them. The language is the one the
// environment names, so the same cases run in English and in Russian. Run on a real X display with
// QM_SCREENSHOT_DIR set, it also pictures the window at five moments of its cases for the README.
// UI thread only, except the engine's worker.
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QAccessible>
#include <QJsonObject>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTimer>
#include <QtTest>

#include "app/main_window.h"
#include "download/download_worker.h"
#include "journey_expected.h"
#include "text/ui_language.h"

namespace {

bool russian = false;

QString Expected(const char* key) {
    for (const ExpectedText& text : expectedTexts) {
        if (std::string_view(text.key) == key) {
            return QString::fromUtf8(russian ? text.russian : text.english);
        }
    }
    qFatal("no expected text %s", key);
}

QString Progress(const QString& middle) {
    return Expected("received_prefix") + middle + Expected("bytes_unit");
}

QString BedUrl(const QString& pathAndMore) {
    return "https://localhost:" + qEnvironmentVariable("QM_HTTPS_PORT") + pathAndMore;
}

// Offers `answer` each menu or modal widget other than `besides` that shows up from now on, until
// it takes one (returns true); the returned timer stops looking when deleted.
QList<QPointer<QTimer>> modalWatches;
QTimer* OnNextModal(std::function<bool(QWidget*)> answer, QWidget* besides = nullptr) {
    auto* timer = new QTimer;
    modalWatches.append(timer);
    QObject::connect(timer, &QTimer::timeout, [timer, answer, besides] {
        QWidget* modal = QApplication::activePopupWidget() != nullptr
                             ? QApplication::activePopupWidget()
                             : QApplication::activeModalWidget();
        if (modal == nullptr || modal == besides || !modal->isVisible()) {
            return;
        }
        timer->stop();
        if (answer(modal)) {
            timer->deleteLater();
        } else {
            timer->start(10);
        }
    });
    timer->start(10);
    return timer;
}

// With QM_SCREENSHOT_DIR set, saves what the display shows of the main window (united with
// `over`, a box above it) as linux-NAME-LANGUAGE.png there: the X server's own pixels, read back
// once the last paint has reached it.
void Screenshot(const char* name, QWidget* over = nullptr) {
    const QString folder = qEnvironmentVariable("QM_SCREENSHOT_DIR");
    if (folder.isEmpty()) {
        return;
    }
    QVERIFY(QDir().mkpath(folder));
    QRect area = appUi.window->frameGeometry();
    if (over != nullptr) {
        QVERIFY(QTest::qWaitForWindowExposed(over));
        area |= over->frameGeometry();
    }
    QTest::qWait(300);
    const QPixmap shot =
        appUi.window->screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const QString path = QString("%1/linux-%2-%3.png").arg(folder, name, russian ? "ru" : "en");
    QVERIFY2(!shot.isNull() && shot.save(path), qPrintable(path));
}

// Whether `control`'s text shows whole at `size`, in the control's font: a label's text (the status
// line's also at its longest, a progress with the largest counts); a button's caption with the
// style's button margin and frame; in an edit box, a line with a pixel clear above and below inside
// the style's frame; eight lines in the list.
bool ShowsWhole(QWidget* control, QSize size) {
    const QFontMetrics metrics = control->fontMetrics();
    QStyle* style = control->style();
    const auto textFits = [&](const QString& text, int margin) {
        const QRect extent = metrics.boundingRect(QRect(0, 0, 10000, 1000), 0, text);
        return extent.width() + margin <= size.width() && extent.height() + margin <= size.height();
    };
    if (control == appUi.statusLine &&
        !textFits(Progress("18446744073709551615 / 18446744073709551615"), 0)) {
        return false;
    }
    if (auto* label = qobject_cast<QLabel*>(control)) {
        return textFits(label->text(), 0);
    }
    if (auto* button = qobject_cast<QPushButton*>(control)) {
        return textFits(button->text(),
                        style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, control) +
                            2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, control));
    }
    if (qobject_cast<QLineEdit*>(control) != nullptr) {
        QStyleOptionFrame frame;
        frame.initFrom(control);
        frame.rect = QRect(QPoint(), size);
        frame.lineWidth = style->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, control);
        return style->subElementRect(QStyle::SE_LineEditContents, &frame, control).height() >=
               metrics.height() + 2;
    }
    auto* list = qobject_cast<QListWidget*>(control);
    return list != nullptr && size.height() - 2 * list->frameWidth() >= 8 * metrics.lineSpacing();
}

struct Box {
    bool shown = false;
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    bool windowClosedMeanwhile = false;
};

// The next message box, read (and with `screenshot`, pictured over the window) and closed with its
// OK button.
std::shared_ptr<Box> ExpectBox(const char* screenshot = nullptr) {
    auto box = std::make_shared<Box>();
    OnNextModal([box, screenshot](QWidget* modal) {
        auto* messageBox = qobject_cast<QMessageBox*>(modal);
        if (messageBox == nullptr) {
            return false;
        }
        box->shown = true;
        box->caption = messageBox->windowTitle();
        box->text = messageBox->text();
        box->icon = messageBox->icon();
        box->buttons = static_cast<int>(messageBox->buttons().size());
        box->windowClosedMeanwhile = !appUi.window->isVisible();
        if (screenshot != nullptr) {
            Screenshot(screenshot, messageBox);
        }
        messageBox->button(QMessageBox::Ok)->click();
        // As the desktop gives the activation back to the window a box leaves.
        appUi.window->activateWindow();
        return true;
    });
    return box;
}

void CheckBox(const Box& box, const char* textKey, QMessageBox::Icon icon, const QString& suffix) {
    QVERIFY2(box.shown, textKey);
    QCOMPARE(box.caption, QString::fromUtf8(expectedAppTitle));
    QCOMPARE(box.text, Expected(textKey) + suffix);
    QCOMPARE(box.icon, icon);
    QCOMPARE(box.buttons, 1);
}

struct SaveAs {
    bool shown = false;
    QString folder;
    QString proposed;
    QStringList filters;
    bool askedToReplace = false;
};

// The next Save As dialog: chooses `path` (confirming a replacement if asked), or is cancelled
// when `path` is empty.
std::shared_ptr<SaveAs> AnswerSaveAs(const QString& path) {
    auto seen = std::make_shared<SaveAs>();
    OnNextModal([seen, path](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (dialog == nullptr) {
            return false;
        }
        seen->shown = true;
        seen->folder = dialog->directory().absolutePath();
        seen->proposed = dialog->selectedFiles().value(0);
        seen->filters = dialog->nameFilters();
        if (path.isEmpty()) {
            dialog->reject();
            return true;
        }
        // Asked only when the file exists; the watch ends with the dialog either way.
        QPointer<QTimer> replaceWatch = OnNextModal(
            [seen](QWidget* question) {
                auto* box = qobject_cast<QMessageBox*>(question);
                if (box == nullptr) {
                    return false;
                }
                seen->askedToReplace = true;
                box->button(QMessageBox::Yes)->click();
                return true;
            },
            dialog);
        // As a user does: the whole path typed into the file name box, then Return.
        auto* nameEdit = dialog->findChild<QLineEdit*>("fileNameEdit");
        if (nameEdit == nullptr) {
            qWarning("Save As without its file name box");
            dialog->reject();
            return true;
        }
        nameEdit->setText(path);
        QTest::keyClick(nameEdit, Qt::Key_Return);
        delete replaceWatch;
        appUi.window->activateWindow();
        return true;
    });
    return seen;
}

QString Status() {
    return appUi.statusLine->text();
}

bool WaitIdle(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (appGlobals.busy && clock.elapsed() < ms) {
        QTest::qWait(10);
    }
    return !appGlobals.busy;
}

// The next line a helper process writes, without its line end; empty if none comes in time.
QByteArray NextLine(QProcess& process) {
    while (!process.canReadLine() && process.waitForReadyRead(10000)) {
    }
    return process.readLine().trimmed();
}

QWidget* Focus() {
    return appUi.window->focusWidget();
}

// The next context menu: the texts of its items, and the one at `choice` chosen with the keyboard.
std::shared_ptr<QStringList> AnswerMenu(int choice) {
    auto items = std::make_shared<QStringList>();
    OnNextModal([items, choice](QWidget* popup) {
        auto* menu = qobject_cast<QMenu*>(popup);
        if (menu == nullptr) {
            return false;
        }
        for (const QAction* action : menu->actions()) {
            *items << action->text();
        }
        menu->setActiveAction(menu->actions().value(choice));
        QTest::keyClick(menu, Qt::Key_Return);
        return true;
    });
    return items;
}

QStringList SessionMenu() {
    return {Expected("open_file"), Expected("show_in_folder")};
}

// What the desktop around the window heard since the case began, as the bed's stand-ins recorded
// it (desktop_standin.py): every line, or the calls of `member`, each with its arguments after
// tabs.
qsizetype desktopMark = 0;
QStringList Desktop(const QString& member) {
    QFile record(qEnvironmentVariable("QM_DESKTOP_LOG"));
    const QStringList lines = record.open(QIODevice::ReadOnly)
                                  ? QString::fromUtf8(record.readAll()).split('\n')
                                  : QStringList();
    return member.isEmpty()
               ? lines
               : lines.mid(desktopMark).filter(QRegularExpression("^" + member + "\t"));
}
QString Call(const QStringList& fields) {
    return fields.join('\t');
}
QString Update(const QString& properties) {
    return Call({"Update", "application://org.quillmere.Quillmere.desktop", properties});
}
const QString hidden = "progress-visible=b:0";

} // namespace

class Journey : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> window;
    QString directory;

    QString Target(const QString& name) const { return directory + "/" + name; }

    void ChooseTarget(const QString& path) {
        auto dialog = AnswerSaveAs(path);
        QTest::mouseClick(appUi.browseButton, Qt::LeftButton);
        QVERIFY(dialog->shown);
        QCOMPARE(appUi.targetEdit->text(), path);
    }

    void StartWith(const QString& url, const QString& name) {
        appUi.urlEdit->setText(url);
        ChooseTarget(Target(name));
        QTest::mouseClick(appUi.downloadButton, Qt::LeftButton);
        QVERIFY(appGlobals.busy);
    }

  private slots:
    void initTestCase() {
        russian = RussianUiFromEnvironment();
        QVERIFY2(!qEnvironmentVariableIsEmpty("QM_BED_DIR"), "run inside tests/linux/bed.sh");
    }

    void init() {
        // What the last case sent the dock is in the record before this one begins: the stand-in
        // answers this call after the signals that the same connection sent before it.
        QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            "org.freedesktop.FileManager1", "/", "org.freedesktop.DBus.Peer", "Ping"));
        desktopMark = Desktop({}).size() - 1;
        appGlobals.russianUi = russian;
        appGlobals.busy = false;
        appGlobals.closePending = false;
        appGlobals.targetPath.clear();
        appGlobals.replaceExisting = false;
        directory = qEnvironmentVariable("QM_BED_DIR") + "/journey/" + QTest::currentTestFunction();
        std::filesystem::remove_all(directory.toStdString());
        std::filesystem::create_directories(directory.toStdString());

        window.reset(CreateMainWindow());
        window->show();
        window->activateWindow();
        // Wayland lets no program activate its own window: the compositor gives the focus, and a
        // headless one without a seat never does. Shown is what can be waited for there.
        if (QGuiApplication::platformName() == "wayland") {
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        } else {
            QVERIFY(QTest::qWaitForWindowActive(window.get()));
        }
    }

    void cleanup() {
        // A failed case may leave a download running: it must end before its window goes.
        if (appGlobals.busy) {
            appGlobals.cancelRequested.exchange(true);
            QVERIFY(WaitIdle(30000));
        }
        window.reset();
        // What a failed case still waited for must not answer the next case's boxes.
        for (const QPointer<QTimer>& watch : modalWatches) {
            delete watch.data();
        }
        modalWatches.clear();
    }

    // At the desktop's font size, set as a platform theme sets it before the window is made:
    // every text shows whole, the controls keep the Windows edition's order and arrangement and
    // lie apart inside the fixed window, which is the Windows edition's, pixel for pixel, wherever
    // the Windows pixels hold the font.
    void layoutAndTexts_data() {
        QTest::addColumn<int>("pointSize");
        QTest::addColumn<QString>("screenshot");
        QTest::newRow("9 pt") << 9 << "main-window";
        QTest::newRow("12 pt") << 12 << QString();
        QTest::newRow("16 pt") << 16 << "main-window-16pt";
    }
    void layoutAndTexts() {
        QFETCH(int, pointSize);
        QFETCH(QString, screenshot);
        const QFont desktopFont = QApplication::font();
        const auto restoreFont = qScopeGuard([desktopFont] { QApplication::setFont(desktopFont); });
        QFont font = desktopFont;
        font.setPointSize(pointSize);
        QApplication::setFont(font);
        window.reset(CreateMainWindow());
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));

        QCOMPARE(window->windowTitle(), QString::fromUtf8(expectedAppTitle));
        QCOMPARE(window->minimumSize(), window->maximumSize());
        QCOMPARE(window->size(), window->minimumSize());
        QVERIFY(!(window->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(window->windowFlags() & Qt::WindowMinimizeButtonHint);

        const auto controls = window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        QCOMPARE(controls.size(), qsizetype(std::size(expectedControls)));
        QList<QRect> windowsRects;
        bool windowsFit = true;
        for (qsizetype i = 0; i < controls.size(); ++i) {
            const ExpectedControl& expected = expectedControls[i];
            windowsRects << QRect(expected.x, expected.y, expected.width, expected.height);
            windowsFit = windowsFit && ShowsWhole(controls[i], windowsRects[i].size());
        }
        if (windowsFit) {
            QCOMPARE(window->size(), QSize(ClientWidth, ClientHeight));
        }
        for (qsizetype i = 0; i < controls.size(); ++i) {
            const ExpectedControl& expected = expectedControls[i];
            QWidget* control = controls[i];
            const QRect live = control->geometry();
            QString text;
            if (auto* label = qobject_cast<QLabel*>(control)) {
                text = label->text();
            } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
                text = button->text();
            } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
                text = edit->text();
            }
            QCOMPARE(text, expected.textKey ? Expected(expected.textKey) : QString());
            QVERIFY2(ShowsWhole(control, live.size()), expected.role);
            if (windowsFit) {
                QCOMPARE(live, windowsRects[i]);
            }
            QVERIFY2(live.width() >= windowsRects[i].width() &&
                         live.height() >= windowsRects[i].height(),
                     expected.role);
            QVERIFY2(window->rect().contains(live), expected.role);
            // The Windows arrangement: what lay above or left of another still does, edges that
            // lined up still do, and no two controls overlap.
            for (qsizetype j = 0; j < controls.size(); ++j) {
                const QRect a = windowsRects[i], b = windowsRects[j],
                            other = controls[j]->geometry();
                const QByteArray pair =
                    QByteArray(expected.role) + " / " + expectedControls[j].role;
                QVERIFY2(i == j || !live.intersects(other), pair);
                QVERIFY2(a.y() + a.height() > b.y() || live.y() + live.height() <= other.y(), pair);
                QVERIFY2(a.x() + a.width() > b.x() || live.x() + live.width() <= other.x(), pair);
                QVERIFY2(a.x() != b.x() || live.x() == other.x(), pair);
                QVERIFY2(a.right() != b.right() || live.right() == other.right(), pair);
            }
        }
        QVERIFY(appUi.targetEdit->isReadOnly());
        QVERIFY(!appUi.cancelButton->isEnabled());
        QVERIFY(appUi.downloadButton->isDefault());
        QCOMPARE(appUi.historyList->count(), 0);
        // Screen readers name each box by the label above it, and find the status bar.
        for (const int label : {0, 2, 8}) {
            const QAccessibleInterface* box =
                QAccessible::queryAccessibleInterface(controls[label + 1]);
            QCOMPARE(box->text(QAccessible::Name), Expected(expectedControls[label].textKey));
            const auto labels = box->relations(QAccessible::Label);
            QVERIFY2(label == 8 ||
                         (labels.size() == 1 && labels[0].first->object() == controls[label]),
                     expectedControls[label].role);
        }
        QCOMPARE(QAccessible::queryAccessibleInterface(appUi.statusLine)->role(),
                 QAccessible::StatusBar);
        if (!screenshot.isEmpty()) {
            Screenshot(qPrintable(screenshot));
        }
    }

    void missingInput() {
        auto box = ExpectBox();
        QTest::mouseClick(appUi.downloadButton, Qt::LeftButton);
        CheckBox(*box, "enter_link_and_target", QMessageBox::Information, {});

        appUi.urlEdit->setText(BedUrl("/ok/10"));
        box = ExpectBox();
        QTest::mouseClick(appUi.downloadButton, Qt::LeftButton);
        CheckBox(*box, "enter_link_and_target", QMessageBox::Information, {});
        QVERIFY(!appGlobals.busy);
        QCOMPARE(Status(), Expected("ready"));
    }

    // The URL is refused by the worker, not the window: blanks pass the window's check.
    void refusedUrl() {
        for (const QString& url : {QString("http://localhost/x"), QString("   ")}) {
            auto box = ExpectBox();
            StartWith(url, "refused.bin");
            QVERIFY(WaitIdle(10000));
            CheckBox(*box, "enter_valid_https_url", QMessageBox::Critical, {});
            QCOMPARE(Status(), Expected("failed"));
            QVERIFY(!QFile::exists(Target("refused.bin")));
        }
    }

    // A failure keeps the destination, so Download alone retries it; a success adds its line,
    // clears the destination, and the next Download asks for one again.
    void failureRetryAndSuccess() {
        auto box = ExpectBox("error-box");
        StartWith(BedUrl("/status/404"), "report.final.PDF");
        QVERIFY(WaitIdle(10000));
        CheckBox(*box, "server_returned_http", QMessageBox::Critical, "404.");
        QCOMPARE(Status(), Expected("failed"));
        // Seen in the window, a failure is nothing urgent for the dock (where a compositor without
        // a seat activates no window, every outcome is unseen).
        const bool wayland = QGuiApplication::platformName() == "wayland";
        QTRY_COMPARE(Desktop("Update"),
                     QStringList{Update(hidden + (wayland ? " urgent=b:1" : ""))});
        QCOMPARE(appUi.targetEdit->text(), Target("report.final.PDF"));
        QCOMPARE(appUi.historyList->count(), 0);

        appUi.urlEdit->setText(BedUrl("/ok/2048"));
        QTest::mouseClick(appUi.downloadButton, Qt::LeftButton);
        QVERIFY(WaitIdle(10000));
        QCOMPARE(Status(), Expected("completed"));
        QCOMPARE(QAccessible::queryAccessibleInterface(appUi.statusLine)->text(QAccessible::Name),
                 Expected("completed"));
        QCOMPARE(QFileInfo(Target("report.final.PDF")).size(), 2048);
        QCOMPARE(appUi.historyList->count(), 1);
        const QString sep = QString::fromUtf8(expectedEntrySeparator);
        QCOMPARE(appUi.historyList->item(0)->text(),
                 "report.final.PDF" + QString::fromUtf8(expectedNameSeparator) + ".PDF" + sep +
                     Expected("bucket_under_1") + sep + "2048" + Expected("bytes_unit"));
        QCOMPARE(appUi.targetEdit->text(), QString());
        QCOMPARE(appUi.urlEdit->text(), BedUrl("/ok/2048"));

        box = ExpectBox();
        QTest::mouseClick(appUi.downloadButton, Qt::LeftButton);
        CheckBox(*box, "enter_link_and_target", QMessageBox::Information, {});

        // A second success goes below the first, whatever the names' order. Its progress starts
        // from zero, not from the first download's count (its body waits 700 ms for the ticks).
        StartWith(BedUrl("/chunked/10?ms=700"), "a-second");
        QStringList seen;
        while (appGlobals.busy) {
            seen << Status();
            QTest::qWait(5);
        }
        seen.removeDuplicates();
        seen.removeAll(Expected("connecting"));
        QVERIFY2(QStringList({Progress("0"), Progress("10")}).contains(seen.value(0)),
                 qPrintable(seen.join(" | ")));
        QCOMPARE(appUi.historyList->count(), 2);
        QVERIFY(appUi.historyList->item(1)->text().startsWith("a-second"));
        Screenshot("session-list");
    }

    // Save As proposes download.bin under "All files", asks before it lets an existing file be
    // chosen, and the download then replaces that file.
    void overwriteConfirmation() {
        // Another user's private file, and then an executable one: each keeps its protection.
        const std::string existing = Target("existing.bin").toStdString();
        { std::ofstream(existing) << "old"; }
        QCOMPARE(chown(existing.c_str(), 4321, 4321), 0);
        QCOMPARE(chmod(existing.c_str(), 0600), 0);
        // The dialog starts in the Downloads folder that the user's XDG folders name.
        const QString downloads = Target("Загрузки");
        QVERIFY(QDir().mkpath(downloads));
        std::ofstream(Target("user-dirs.dirs").toStdString())
            << "XDG_DOWNLOAD_DIR=\"" << downloads.toStdString() << "\"\n";
        qputenv("XDG_CONFIG_HOME", directory.toUtf8());
        appUi.urlEdit->setText(BedUrl("/ok/1000"));
        auto dialog = AnswerSaveAs(Target("existing.bin"));
        QTest::mouseClick(appUi.browseButton, Qt::LeftButton);
        qunsetenv("XDG_CONFIG_HOME");
        QVERIFY(dialog->shown);
        QCOMPARE(dialog->folder, downloads);
        QCOMPARE(dialog->proposed, downloads + "/download.bin");
        QCOMPARE(dialog->filters, QStringList{Expected("all_files") + " (*)"});
        QVERIFY(dialog->askedToReplace);
        QVERIFY(appGlobals.replaceExisting);

        QTest::mouseClick(appUi.downloadButton, Qt::LeftButton);
        QVERIFY(WaitIdle(10000));
        QCOMPARE(Status(), Expected("completed"));
        QCOMPARE(QFileInfo(Target("existing.bin")).size(), 1000);
        struct stat status {};
        QCOMPARE(stat(existing.c_str(), &status), 0);
        QCOMPARE(status.st_mode & 07777, mode_t(0600));
        QCOMPARE(status.st_uid, uid_t(4321));
        QCOMPARE(status.st_gid, gid_t(4321));

        const std::string script = Target("run.sh").toStdString();
        { std::ofstream(script) << "#!/bin/sh\n"; }
        QCOMPARE(chmod(script.c_str(), 0755), 0);
        ChooseTarget(Target("run.sh"));
        QVERIFY(appGlobals.replaceExisting);
        QTest::mouseClick(appUi.downloadButton, Qt::LeftButton);
        QVERIFY(WaitIdle(10000));
        QCOMPARE(Status(), Expected("completed"));
        QCOMPARE(QFileInfo(Target("run.sh")).size(), 1000);
        QCOMPARE(stat(script.c_str(), &status), 0);
        QCOMPARE(status.st_mode & 07777, mode_t(0755));

        // A new name is not a replacement.
        ChooseTarget(Target("new.bin"));
        QVERIFY(!appGlobals.replaceExisting);
    }

    void cancelledDialog() {
        ChooseTarget(Target("kept.bin"));
        // A Downloads folder that does not exist leaves the dialog at home.
        std::ofstream(Target("user-dirs.dirs").toStdString())
            << "XDG_DOWNLOAD_DIR=\"" << Target("gone").toStdString() << "\"\n";
        qputenv("XDG_CONFIG_HOME", directory.toUtf8());
        auto dialog = AnswerSaveAs({});
        QTest::mouseClick(appUi.browseButton, Qt::LeftButton);
        qunsetenv("XDG_CONFIG_HOME");
        QVERIFY(dialog->shown);
        QCOMPARE(dialog->folder, QDir::homePath());
        QCOMPARE(appUi.targetEdit->text(), Target("kept.bin"));
        QCOMPARE(QString::fromStdString(appGlobals.targetPath), Target("kept.bin"));
    }

    // With a Content-Length the total shows from the first tick after it arrived; Cancel then
    // holds "Cancelling…" until the outcome, with no progress text in between.
    void progressWithTotalAndCancel() {
        // Pieces far enough apart that ticks fall between Cancel and its outcome.
        StartWith(BedUrl("/paced/2000000?ms=600"), "paced.bin");
        QCOMPARE(Status(), Expected("connecting"));
        QVERIFY(!appUi.downloadButton->isEnabled());
        QVERIFY(appUi.cancelButton->isEnabled());
        const QRegularExpression withTotal(
            "^" + QRegularExpression::escape(Expected("received_prefix")) +
            "[1-9][0-9]* / 2000000" + QRegularExpression::escape(Expected("bytes_unit")) + "$");
        QTRY_VERIFY_WITH_TIMEOUT(withTotal.match(Status()).hasMatch(), 10000);
        Screenshot("downloading");

        QTest::mouseClick(appUi.cancelButton, Qt::LeftButton);
        QCOMPARE(Status(), Expected("cancelling"));
        QStringList seen;
        while (appGlobals.busy) {
            seen << Status();
            QTest::qWait(5);
        }
        seen.removeDuplicates();
        QCOMPARE(seen, QStringList{Expected("cancelling")});
        QCOMPARE(Status(), Expected("cancelled"));
        QCOMPARE(appUi.historyList->count(), 0);
        QVERIFY(QDir(directory).isEmpty());
        // The dock showed the fraction as it grew, and takes it away at the outcome.
        QTRY_COMPARE(Desktop("Update").value(Desktop("Update").size() - 1), Update(hidden));
        QStringList updates = Desktop("Update");
        updates.removeLast();
        double fraction = 0;
        for (const QString& update : updates) {
            const QString value = update.section("d:", 1).section(' ', 0, 0);
            QCOMPARE(update, Update("progress=d:" + value + " progress-visible=b:1"));
            QVERIFY2(value.toDouble() > fraction && value.toDouble() < 1, qPrintable(value));
            fraction = value.toDouble();
        }
        QVERIFY(fraction > 0);
        // The destination stays for another try.
        QCOMPARE(appUi.targetEdit->text(), Target("paced.bin"));
    }

    // Without a Content-Length there is no total. While busy, Browse and Download are refused,
    // whether pressed or asked for by their commands.
    void progressWithoutTotalAndRefusals() {
        StartWith(BedUrl("/chunked/2000000?ms=100"), "chunked.bin");
        QTRY_VERIFY_WITH_TIMEOUT(Status().startsWith(Expected("received_prefix")) &&
                                     !Status().startsWith(Progress("0")),
                                 10000);
        QVERIFY2(!Status().contains(" / "), qPrintable(Status()));
        QVERIFY(Status().endsWith(Expected("bytes_unit")));

        QVERIFY(!appUi.urlEdit->isEnabled());
        QVERIFY(!appUi.browseButton->isEnabled());
        bool modalSeen = false;
        QTimer* watch = OnNextModal([&modalSeen](QWidget* modal) {
            modalSeen = true;
            modal->close();
            return true;
        });
        const QString before = Status();
        OnBrowseCommand();
        OnDownloadCommand();
        QCOMPARE(Status(), before);
        QTest::mouseClick(appUi.downloadButton, Qt::LeftButton);
        QTest::qWait(300);
        delete watch;
        QVERIFY(!modalSeen);
        QVERIFY2(Status() != Expected("connecting"), "a second download started");
        QVERIFY(appGlobals.bytesReceived.load() > 0);

        // Escape is Cancel, from the control that has the keyboard.
        QCOMPARE(Focus(), appUi.cancelButton);
        QTest::keyClick(Focus(), Qt::Key_Escape);
        QCOMPARE(Status(), Expected("cancelling"));
        QVERIFY(WaitIdle(10000));
        QCOMPARE(Status(), Expected("cancelled"));
        // Without a total the dock has nothing to show; it hears only the outcome.
        QTRY_COMPARE(Desktop("Update"), QStringList{Update(hidden)});
        // Cancel while idle does nothing, and Escape does not close the window.
        OnCancelCommand();
        QTest::keyClick(Focus(), Qt::Key_Escape);
        QCOMPARE(Status(), Expected("cancelled"));
        QVERIFY(window->isVisible());
    }

    // Closing while busy cancels and stops all input; the window goes only once the outcome has
    // been shown, whatever it is.
    void closeWhileBusy_data() {
        QTest::addColumn<QString>("outcome");
        QTest::newRow("cancelled") << "cancelled";
        QTest::newRow("succeeded") << "succeeded";
        QTest::newRow("failed") << "failed";
    }
    void closeWhileBusy() {
        QFETCH(QString, outcome);
        if (outcome == "cancelled") {
            StartWith(BedUrl("/paced/2000000?ms=100"), "closing.bin");
        } else {
            // An outcome the cancellation came too late for: the worker is played by the test.
            appGlobals.targetPath = Target("closing.bin").toStdString();
            SetBusy(true);
        }
        QVERIFY(!window->close());
        QVERIFY(window->isVisible());
        QVERIFY(!window->isEnabled());
        QVERIFY(appGlobals.cancelRequested.load());
        QCOMPARE(Status(), Expected("cancelling"));
        // Closing again repeats the same steps.
        QVERIFY(!window->close());

        std::shared_ptr<Box> box;
        if (outcome != "cancelled") {
            auto* result = new DownloadOutcome;
            result->targetPath = appGlobals.targetPath;
            if (outcome == "succeeded") {
                result->succeeded = true;
                result->bytesWritten = 5;
            } else {
                result->errorText = "Error 5";
                box = ExpectBox();
            }
            QVERIFY(PostDownloadDone(window.get(), result));
            QVERIFY(window->isVisible());
        }
        QVERIFY(WaitIdle(15000));
        QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), 5000);
        if (outcome == "cancelled") {
            QCOMPARE(Status(), Expected("cancelled"));
            QVERIFY(QDir(directory).isEmpty());
        } else if (outcome == "succeeded") {
            QCOMPARE(Status(), Expected("completed"));
            QCOMPARE(appUi.historyList->count(), 1);
        } else {
            QCOMPARE(Status(), Expected("failed"));
            QVERIFY(box->shown);
            QVERIFY2(!box->windowClosedMeanwhile, "the window closed before its error box");
            QCOMPARE(box->text, QString("Error 5"));
        }
    }

    // The session's end, on the program in a process of its own with a stand-in desktop portal on
    // a private session bus. A finished download asked the desktop to hold logout and suspend and
    // withdrew it; idle, SIGTERM ends the program at once. SIGTERM, SIGINT and SIGHUP during a
    // download each end it within seconds with that signal's status, and so does the loss of its
    // X server (-1) with Qt's status 1: no staging file is left and the file it was to replace
    // keeps its bytes.
    void sessionEnd() {
        QProcess bus;
        bus.start("dbus-daemon", {"--session", "--print-address", "--nofork"});
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", NextLine(bus));
        QProcess portal;
        portal.setProcessEnvironment(environment);
        portal.start("/usr/bin/python3", {QFINDTESTDATA("portal_standin.py")});
        QCOMPARE(NextLine(portal), QByteArray("ready"));
        { std::ofstream(Target("kept.bin").toStdString()) << "old"; }
        const QByteArray asked =
            QJsonDocument(QJsonArray{"", 1 | 4, Expected("download_in_progress")})
                .toJson(QJsonDocument::Compact);

        for (const int sent : {0, SIGTERM, SIGINT, SIGHUP, -1}) {
            const QString name = sent == 0 ? "done.bin" : "kept.bin";
            QProcessEnvironment childEnvironment = environment;
            // The SIGTERM round's pieces come far apart, so that its SIGHUP comes during the wait.
            const char* url = sent == 0         ? "/paced/300000?ms=50"
                              : sent == SIGTERM ? "/paced/50000000?ms=1000"
                                                : "/paced/50000000?ms=100";
            childEnvironment.insert("QM_SESSION_URL", BedUrl(url));
            childEnvironment.insert("QM_SESSION_TARGET", Target(name));
            QProcess xvfb;
            if (sent < 0) {
                xvfb.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp"});
                childEnvironment.insert("DISPLAY", ":" + NextLine(xvfb));
                childEnvironment.insert("QT_QPA_PLATFORM", "xcb");
                // Qt ends the program with exit() from inside its event handling; what the stack
                // and libraries still hold then is no leak of the program's.
                childEnvironment.insert("ASAN_OPTIONS", "detect_leaks=0");
            }
            QProcess child;
            child.setProcessEnvironment(childEnvironment);
            child.setProcessChannelMode(QProcess::ForwardedChannels);
            child.start(QCoreApplication::applicationFilePath(), QStringList());
            // Its own pid, also once the child has been reaped: kill(0) would hit this test.
            const pid_t pid = static_cast<pid_t>(child.processId());
            QVERIFY(pid > 0);
            QCOMPARE(NextLine(portal), asked);
            if (sent == 0) {
                QCOMPARE(NextLine(portal), QByteArray("Close"));
                QCOMPARE(QFileInfo(Target(name)).size(), 300000);
            } else {
                // Signalled between two pieces: the cancellation waits for the next one.
                QTRY_VERIFY_WITH_TIMEOUT(
                    QDir(directory).entryInfoList({"*.part"}).value(0).size() >= 65536, 10000);
            }
            QElapsedTimer clock;
            clock.start();
            if (sent < 0) {
                xvfb.terminate();
            } else {
                kill(pid, sent == 0 ? SIGTERM : sent);
            }
            if (sent == SIGTERM) {
                // As logind ends a session: SIGHUP right after SIGTERM, which must not cut short
                // the wait for the staging file nor change the status.
                QTest::qWait(20);
                kill(pid, SIGHUP);
            }
            QVERIFY(child.state() == QProcess::NotRunning || child.waitForFinished(10000));
            qInfo("round %d: the program ended %lld ms after it", sent, clock.elapsed());
            QCOMPARE(child.exitStatus(), sent < 0 ? QProcess::NormalExit : QProcess::CrashExit);
            QCOMPARE(child.exitCode(), sent < 0 ? 1 : sent == 0 ? SIGTERM : sent);
            QCOMPARE(QDir(directory).entryList(QDir::Files), QStringList({"done.bin", "kept.bin"}));
            QCOMPARE(QFileInfo(Target("kept.bin")).size(), 3);
        }
        portal.terminate();
        portal.waitForFinished();
        bus.terminate();
        bus.waitForFinished();
    }

    // Tab walks URL, Browse, Download and skips the disabled Cancel; Enter presses the focused
    // button and means Download anywhere else. The keyboard follows the controls that are
    // enabled and comes back when the download ends.
    void enterAndFocus() {
        QCOMPARE(Focus(), appUi.urlEdit);
        QTest::keyClick(window.get(), Qt::Key_Tab);
        QCOMPARE(Focus(), appUi.browseButton);
        QTest::keyClick(window.get(), Qt::Key_Tab);
        QCOMPARE(Focus(), appUi.downloadButton);
        QTest::keyClick(window.get(), Qt::Key_Tab);
        QCOMPARE(Focus(), appUi.urlEdit);

        // Enter in the list, with nothing chosen: Download's information box.
        appUi.historyList->setFocus();
        auto box = ExpectBox();
        QTest::keyClick(appUi.historyList, Qt::Key_Return);
        CheckBox(*box, "enter_link_and_target", QMessageBox::Information, {});

        // Enter on Browse opens Save As; the focus is back on Browse afterwards.
        appUi.browseButton->setFocus();
        auto dialog = AnswerSaveAs(Target("keys.bin"));
        QTest::keyClick(appUi.browseButton, Qt::Key_Return);
        QVERIFY(dialog->shown);
        QTRY_COMPARE(Focus(), appUi.browseButton);

        // Enter in the URL box starts the download; the keyboard moves to Cancel.
        appUi.urlEdit->setFocus();
        QTest::keyClicks(appUi.urlEdit, BedUrl("/paced/2000000?ms=100"));
        QTest::keyClick(appUi.urlEdit, Qt::Key_Return);
        QVERIFY(appGlobals.busy);
        QCOMPARE(Focus(), appUi.cancelButton);
        QVERIFY(Focus()->isEnabled());

        // Enter on Cancel cancels; afterwards the URL box has the keyboard again.
        QTest::keyClick(appUi.cancelButton, Qt::Key_Return);
        QCOMPARE(Status(), Expected("cancelling"));
        QVERIFY(WaitIdle(10000));
        QCOMPARE(Status(), Expected("cancelled"));
        QCOMPARE(Focus(), appUi.urlEdit);

        // The error box gives the keyboard back to where it was.
        appUi.urlEdit->setText(BedUrl("/status/500"));
        appUi.downloadButton->setFocus();
        box = ExpectBox();
        QTest::keyClick(appUi.downloadButton, Qt::Key_Return);
        QVERIFY(WaitIdle(10000));
        CheckBox(*box, "server_returned_http", QMessageBox::Critical, "500.");
        QTRY_COMPARE(Focus(), appUi.downloadButton);
    }

    // An outcome that arrives while the user works in another window: a notification says so
    // (after a success with "Show in folder", which shows the file), the dock marks a failure
    // urgent, and back in the window, by the notification's click or after the error box, both
    // are withdrawn. No outcome of the cases before, all in an active window, notified anything.
    void attentionWhileAway() {
        if (QGuiApplication::platformName() == "wayland") {
            QSKIP("a compositor without a seat activates no window");
        }
        desktopMark = 0;
        QCOMPARE(Desktop("Notify"), QStringList());
        QWidget elsewhere;
        elsewhere.show();
        const auto goElsewhere = [&elsewhere] {
            elsewhere.activateWindow();
            QTRY_VERIFY(!appUi.window->isActiveWindow());
        };
        // The notification daemon numbers its notifications from 1.
        const auto click = [](uint id, const QString& action) {
            QDBusMessage click = QDBusMessage::createMethodCall(
                "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                "org.freedesktop.DBus.Mock", "EmitSignal");
            click << "org.freedesktop.Notifications"
                  << "ActionInvoked"
                  << "us" << QVariantList{id, action};
            QCOMPARE(QDBusConnection::sessionBus().call(click).type(), QDBusMessage::ReplyMessage);
        };
        const auto notified = [](const char* status, const QString& body, const QString& actions,
                                 const char* category) {
            return Call({"Notify", "Quillmere", "0", "org.quillmere.Quillmere", Expected(status),
                         body, actions,
                         QString("category=s:transfer.") + category +
                             " desktop-entry=s:org.quillmere.Quillmere",
                         "-1"});
        };
        appUi.urlEdit->setText(BedUrl("/ok/3000"));
        ChooseTarget(Target("report.bin"));
        goElsewhere();
        QTest::mouseClick(appUi.downloadButton, Qt::LeftButton);
        QTRY_COMPARE(Desktop("Notify"), QStringList{notified("completed", "report.bin",
                                                             "default|Quillmere|show-in-folder|" +
                                                                 Expected("show_in_folder"),
                                                             "complete")});
        click(1, "show-in-folder");
        QTRY_COMPARE(Desktop("ShowItems"),
                     QStringList{Call({"ShowItems", "file://" + directory + "/report.bin", ""})});
        click(1, "default");
        QTRY_COMPARE(Desktop("CloseNotification"), QStringList{Call({"CloseNotification", "1"})});
        QVERIFY(window->isActiveWindow());

        appUi.urlEdit->setText(BedUrl("/status/404"));
        ChooseTarget(Target("failed.bin"));
        goElsewhere();
        auto box = ExpectBox();
        QTest::mouseClick(appUi.downloadButton, Qt::LeftButton);
        QVERIFY(WaitIdle(10000));
        CheckBox(*box, "server_returned_http", QMessageBox::Critical, "404.");
        QTRY_COMPARE(Desktop("Notify").value(1),
                     notified("failed", box->text, "default|Quillmere", "error"));
        // The box's OK gives the window the activation back.
        QTRY_COMPARE(Desktop("CloseNotification").value(1), Call({"CloseNotification", "2"}));
        QTRY_COMPARE(Desktop("Update").mid(Desktop("Update").size() - 2),
                     (QStringList{Update(hidden + " urgent=b:1"), Update("urgent=b:0")}));
    }

    // Each line of the list stands for its file: its menu (right-click, Shift+F10) offers Open and
    // Show in folder, which asks the file manager to show that line's file. Where the platform
    // opens files (Qt's offscreen one does not), the desktop's default program, the bed's
    // recorder, gets the folder that no file manager showed, and each line's file on a
    // double-click or Enter. A file gone since gives the system's text in the error box, whether
    // shown or opened (Enter, which is then not Download as well), and its line stays.
    void sessionFiles() {
        for (const char* name : {"опись 1.bin", "unanswered.bin"}) {
            StartWith(BedUrl("/ok/10"), name);
            QVERIFY(WaitIdle(10000));
        }
        QListWidget* list = appUi.historyList;
        auto menu = AnswerMenu(1);
        const QPoint line = list->visualItemRect(list->item(0)).center();
        QContextMenuEvent click(QContextMenuEvent::Mouse, line,
                                list->viewport()->mapToGlobal(line));
        QApplication::sendEvent(list->viewport(), &click);
        QCOMPARE(*menu, SessionMenu());
        list->setFocus();
        list->setCurrentRow(1);
        menu = AnswerMenu(1);
        QTest::keyClick(list, Qt::Key_F10, Qt::ShiftModifier);
        QCOMPARE(*menu, SessionMenu());
        const QString shown = Call({"ShowItems", "file://" + directory + "/%1", ""});
        QTRY_COMPARE(Desktop("ShowItems"),
                     (QStringList{shown.arg("%D0%BE%D0%BF%D0%B8%D1%81%D1%8C%201.bin"),
                                  shown.arg("unanswered.bin")}));
        if (QGuiApplication::platformName() != "offscreen") {
            const QString opened = Call({"Opened", "%1"});
            QTRY_COMPARE(Desktop("Opened"), QStringList{opened.arg(directory)});
            // A widget's double-click in Qt Test is the second click only.
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, line);
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, line);
            QTRY_COMPARE(Desktop("Opened").size(), 2);
            list->setCurrentRow(1);
            QTest::keyClick(list, Qt::Key_Return);
            QTRY_COMPARE(Desktop("Opened"),
                         (QStringList{opened.arg(directory), opened.arg(Target("опись 1.bin")),
                                      opened.arg(Target("unanswered.bin"))}));
        }

        QVERIFY(QFile::remove(Target("unanswered.bin")));
        for (const bool open : {false, true}) {
            auto box = ExpectBox();
            const auto download = open ? ExpectBox() : std::make_shared<Box>();
            if (!open) {
                menu = AnswerMenu(1);
            }
            QTest::keyClick(list, open ? Qt::Key_Return : Qt::Key_F10,
                            open ? Qt::NoModifier : Qt::ShiftModifier);
            QVERIFY(box->shown);
            QCOMPARE(box->text,
                     russian ? "Нет такого файла или каталога" : "No such file or directory");
            QCOMPARE(box->icon, QMessageBox::Critical);
            QTest::qWait(100);
            QVERIFY(!download->shown);
        }
        QCOMPARE(Desktop("ShowItems").size(), 2);
        QCOMPARE(list->count(), 2);
    }
};

// The program as main.cpp starts it, with one download to QM_SESSION_URL started through the
// window's commands; sessionEnd runs this in a process of its own and ends it.
int RunSessionChild(int argc, char** argv) {
    appGlobals.russianUi = RussianUiFromEnvironment();
    QApplication application(argc, argv);
    InstallSessionEnd();
    std::unique_ptr<QWidget> window(CreateMainWindow());
    window->show();
    appUi.urlEdit->setText(qEnvironmentVariable("QM_SESSION_URL"));
    appGlobals.targetPath = qEnvironmentVariable("QM_SESSION_TARGET").toStdString();
    appGlobals.replaceExisting = QFile::exists(qEnvironmentVariable("QM_SESSION_TARGET"));
    OnDownloadCommand();
    return application.exec();
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet("QM_SESSION_URL")) {
        return RunSessionChild(argc, argv);
    }
    // Qt's own Save As dialog, which the test can answer, also where a desktop offers another.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication application(argc, argv);
    Journey journey;
    return QTest::qExec(&journey, argc, argv);
}

#include "journey_test.moc"
