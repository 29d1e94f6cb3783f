// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/form1.h"

#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <array>
#include <climits>
#include <vector>

#include "window/fonts.h"
#include "window/layout.h"
#include "window/port_words.h"

// The pictures live in this static library; they must be registered by hand.
static void initResources() { Q_INIT_RESOURCE(resources); }

namespace mv70 {

using namespace window;

namespace {

QColor colourOf(quint32 rgb) { return QColor::fromRgb(rgb); }

// The window's frame before the window manager has drawn it: the usual title
// bar and borders, and a border of 4 pixels at either side.
constexpr int kSideBordersPixels = 8;

// Where a window of this outer rectangle lies within the area, moved as
// little as it takes. One larger than the area keeps its top-left corner,
// with the title bar, inside.
QPoint insideArea(QRect outer, const QRect &area) {
    outer.moveRight(std::min(outer.right(), area.right()));
    outer.moveBottom(std::min(outer.bottom(), area.bottom()));
    outer.moveLeft(std::max(outer.left(), area.left()));
    outer.moveTop(std::max(outer.top(), area.top()));
    return outer.topLeft();
}

bool takesFocus(Kind kind) { return kind == Kind::Button || kind == Kind::Option || kind == Kind::TextBox; }

// The window's four timers: their names and the intervals they start
// with. Several handlers return a timer to its start interval.
struct TimerSpec {
    const char *name;
    int interval;  // ms; all are off at start
};
constexpr std::array kTimers = {
    TimerSpec{"Timer1", kStartRepeatPeriod},        // repeat of a held button
    TimerSpec{"Timer2", kStartTiming.replyWindow},  // reply window
    TimerSpec{"Timer3", 5000},                      // hides the port panel
    TimerSpec{"Timer4", kStartTiming.displayHold},  // display hold
};

// The port panel's options and the choice each one makes.
struct OptionChoice {
    const char *control;
    std::size_t choice;  // the row of kPortChoices or kSpeedChoices
};
constexpr OptionChoice kPortOptions[] = {{"Option1", 0}, {"Option2", 1}};
constexpr OptionChoice kSpeedOptions[] = {{"Option9", 0}, {"Option10", 1}};

// The window's timers in the order of their rows in kTimers.
std::array<QTimer *, kTimers.size()> timersOf(Form1 &form) {
    static_assert(kTimers.size() == 4, "one row per timer of the window");
    return {&form.Timer1, &form.Timer2, &form.Timer3, &form.Timer4};
}

// The data-view button's captions, each with what it does for assistive
// technology.
struct DataViewCaption {
    const char *caption;  // UTF-8
    const char *meaning;
};
constexpr DataViewCaption kDataViewShow{"データを表示する", "Show the data band"};
constexpr DataViewCaption kDataViewHide{"データを表示しない", "Hide the data band"};
constexpr DataViewCaption kDataViewClose{"CLOSE", "Close the data and service bands"};

void setCaption(QPushButton *button, const DataViewCaption &caption) {
    button->setText(QString::fromUtf8(caption.caption));
    button->setAccessibleName(QString::fromUtf8(caption.meaning));
}

// What a button sends, for assistive technology: "sends C00".
QString whatItSends(std::string_view control) {
    if (const OneShotButton *button = findOneShot(control))
        return QStringLiteral("sends ") + QStringView(button->code).toString();
    if (const HoldButton *button = findHold(control))
        if (const auto code = repeatCodeText(button->repeatCode))
            return QStringLiteral("sends %1 while held").arg(QStringView(*code).toString());
    return {};
}

}  // namespace

Form1::Form1(QWidget *parent) : QWidget(parent) {
    initResources();
    registerFontSubstitutes();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(kTitle));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(QIcon(QStringLiteral(":/mv70/mv70-control.png")));
    QPalette p = palette();
    p.setColor(QPalette::Window, colourOf(kWindowBack));
    p.setColor(QPalette::WindowText, Qt::black);
    p.setColor(QPalette::ButtonText, Qt::black);
    setPalette(p);
    setAutoFillBackground(true);
    setFont(fontFor(kFormFont));
    setClientHeight(FullHeight.client);  // as designed; start-up shrinks it

    const auto timers = timersOf(*this);
    for (std::size_t index = 0; index < timers.size(); ++index) {
        timers[index]->setObjectName(QString::fromLatin1(kTimers[index].name));
        timers[index]->setInterval(kTimers[index].interval);
        timers[index]->setTimerType(Qt::PreciseTimer);
    }

    showWarning = [this](const QString &description) {
        QMessageBox box(QMessageBox::Warning, windowTitle(), description, QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    };

    installAccessibleInterfaces();
    buildControls();
    connectHandlers();
    openExchangeLog();
}

Form1::~Form1() { qApp->removeEventFilter(this); }

QWidget *Form1::control(std::string_view name) const {
    return controls_.value(QByteArray(name.data(), static_cast<qsizetype>(name.size())));
}

void Form1::buildControls() {
    std::vector<std::pair<int, QWidget *>> tabOrder;
    QHash<QWidget *, QButtonGroup *> optionGroups;
    for (const ControlSpec &row : kControls) {
        QWidget *parent = row.parent ? control(row.parent) : this;
        Q_ASSERT(parent);
        const QString caption = QString::fromUtf8(row.caption);
        QWidget *widget = nullptr;
        QPalette::ColorRole backRole = QPalette::Window;
        QPalette::ColorRole textRole = QPalette::WindowText;
        switch (row.kind) {
        case Kind::Frame: {
            auto *frame = new QFrame(parent);
            frame->setFrameStyle(QFrame::Box | QFrame::Sunken);  // etched
            widget = frame;
            break;
        }
        case Kind::Label:
            if (row.sunken) {
                auto *line = new MonitorLine(parent);
                line->setText(caption);
                widget = line;
            } else {
                auto *label = new QLabel(parent);
                label->setTextFormat(Qt::PlainText);
                label->setText(caption);
                const Qt::Alignment horizontal = row.align == Align::Centre ? Qt::AlignHCenter
                                               : row.align == Align::Right  ? Qt::AlignRight
                                                                            : Qt::AlignLeft;
                label->setAlignment(horizontal | Qt::AlignTop);
                widget = label;
            }
            break;
        case Kind::Button:
            widget = findHold(row.name) ? new HoldPushButton(caption, parent) : new CaptionButton(caption, parent);
            backRole = QPalette::Button;
            textRole = QPalette::ButtonText;
            break;
        case Kind::Option: {
            auto *option = new QRadioButton(caption, parent);
            // The options of one container are one group, whatever the
            // containers within it hold: the speed pair lies inside the
            // port pair's frame but is a group of its own.
            QButtonGroup *&group = optionGroups[parent];
            if (!group)
                group = new QButtonGroup(parent);
            group->addButton(option);
            option->setChecked(row.marked);
            widget = option;
            break;
        }
        case Kind::TextBox: {
            auto *box = new QLineEdit(parent);
            box->setMaxLength(INT_MAX);  // no length limit
            widget = box;
            break;
        }
        case Kind::Image: {
            auto *image = new LogoImage(parent);
            image->setPixmap(QPixmap(QStringLiteral(":/mv70/logo.png")));
            widget = image;
            break;
        }
        }
        widget->setObjectName(QString::fromUtf8(row.name.data(), static_cast<qsizetype>(row.name.size())));
        widget->setGeometry(twipsToPixels(row.left), twipsToPixels(row.top), twipsToPixels(row.width),
                            twipsToPixels(row.height));
        if (row.kind == Kind::Image)
            widget->resize(static_cast<QLabel *>(widget)->pixmap().size());  // natural size

        QPalette palette = widget->palette();
        if (row.back != kNoColour && row.back != kButtonFace && row.back != kTextBackground) {
            palette.setColor(backRole, colourOf(row.back));
            if (row.kind != Kind::Button)
                widget->setAutoFillBackground(true);
        }
        palette.setColor(textRole, colourOf(row.text));
        widget->setPalette(palette);
        if (row.font.face != Face::Window)
            widget->setFont(fontFor(row.font));
        if (*row.meaning)
            widget->setAccessibleName(QString::fromUtf8(row.meaning));
        if (row.kind == Kind::Button)
            widget->setAccessibleDescription(whatItSends(row.name));
        if (!row.visible)
            widget->hide();
        if (takesFocus(row.kind))
            tabOrder.emplace_back(row.tab, widget);
        controls_.insert(QByteArray(row.name.data(), static_cast<qsizetype>(row.name.size())), widget);
    }

    // Labels and the logo lie beneath the windowed controls of their
    // container; the port panel lies above the COM button.
    for (const ControlSpec &row : kControls)
        if (row.kind == Kind::Label || row.kind == Kind::Image)
            control(row.name)->lower();
    control("Frame8")->raise();
    for (const CaptionFor &pair : kCaptionsFor)
        qobject_cast<QLabel *>(control(pair.label))->setBuddy(control(pair.control));

    std::ranges::sort(tabOrder, {}, &std::pair<int, QWidget *>::first);
    for (std::size_t i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1].second, tabOrder[i].second);
    tabOrder.front().second->setFocus();

    Label11 = qobject_cast<MonitorLine *>(control("Label11"));
    Label12 = qobject_cast<MonitorLine *>(control("Label12"));
    Label22 = qobject_cast<MonitorLine *>(control("Label22"));
    Label22->setTextColour(colourOf(findControl("Label22")->text));
    Frame8 = qobject_cast<QFrame *>(control("Frame8"));
    Command34 = qobject_cast<QPushButton *>(control("Command34"));
    Option1 = qobject_cast<QRadioButton *>(control("Option1"));
    Text1 = qobject_cast<QLineEdit *>(control("Text1"));
    Image1 = qobject_cast<LogoImage *>(control("Image1"));
}

void Form1::connectHandlers() {
    for (const OneShotButton &button : kOneShotButtons)
        connect(qobject_cast<QPushButton *>(control(button.control)), &QPushButton::clicked, this,
                [this, &button] { OneShot_Click(button); });
    for (const HoldButton &button : kHoldButtons) {
        auto *widget = qobject_cast<window::HoldPushButton *>(control(button.control));
        connect(widget, &window::HoldPushButton::mouseDown, this, [this, &button] { Hold_MouseDown(button); });
        connect(widget, &window::HoldPushButton::mouseUp, this, [this, &button] { Hold_MouseUp(button); });
        connect(widget, &window::HoldPushButton::mouseLost, this, &Form1::endLostHold);
    }
    for (const OptionChoice &option : kPortOptions)
        onChosen(qobject_cast<QRadioButton *>(control(option.control)),
                 [this, &choice = serial::kPortChoices[option.choice]] { PortOption_Click(choice); });
    for (const OptionChoice &option : kSpeedOptions)
        onChosen(qobject_cast<QRadioButton *>(control(option.control)),
                 [this, &choice = serial::kSpeedChoices[option.choice]] { SpeedOption_Click(choice); });

    const auto onClick = [this](const char *name, void (Form1::*handler)()) {
        connect(qobject_cast<QPushButton *>(control(name)), &QPushButton::clicked, this, handler);
    };
    onClick("Command16", &Form1::Command16_Click);
    onClick("Command33", &Form1::Command33_Click);
    onClick("Command34", &Form1::Command34_Click);
    onClick("Command95", &Form1::Command95_Click);
    onClick("Command96", &Form1::Command96_Click);
    connect(Image1, &LogoImage::doubleClicked, this, &Form1::Image1_DblClick);

    connect(&Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    connect(&Timer2, &QTimer::timeout, this, &Form1::Timer2_Timer);
    connect(&Timer3, &QTimer::timeout, this, &Form1::Timer3_Timer);
    connect(&Timer4, &QTimer::timeout, this, &Form1::Timer4_Timer);
    MSComm1.setWording(&window::describeFailure);
    connect(&MSComm1, &window::MSComm::OnComm, this, &Form1::MSComm1_OnComm);
    connect(&MSComm1, &window::MSComm::lineLost, this, &Form1::MSComm1_LineLost);
    connect(&MSComm1, &window::MSComm::openFailed, this, &Form1::MSComm1_OpenFailed);
    connect(&MSComm1, &window::MSComm::settingsNotCarried, this, &Form1::MSComm1_SettingsNotCarried);
    connect(&MSComm1, &window::MSComm::lineRestored, this, &Form1::MSComm1_LineRestored);
    connect(&MSComm1, &window::MSComm::lineStillAway, this, &Form1::MSComm1_LineStillAway);

    // The exchange writes to MSComm1 and learns from it when the bytes have
    // left; its reply window is Timer2, and the display hold (Timer4) starts
    // with it.
    serial::bindExchange(MSComm1, exchange);
    connect(&MSComm1, &window::MSComm::lineLost, &exchange, &Exchange::lineGone);
    connect(&MSComm1, &window::MSComm::openFailed, &exchange, &Exchange::lineGone);
    connect(&exchange, &Exchange::replyWindowOpened, this, [this] { Timer4.start(); });

    qApp->installEventFilter(this);  // key preview
}

// An option is chosen by a click, a key, an assistive technology's action
// or by marking it in code (start-up). A choice that marks it runs the
// handler as the mark changes; a click on the option already marked changes
// no mark and chooses it again. Each choice runs the handler once: a click
// that marks the option is seen both ways, and its toggle comes first.
void Form1::onChosen(QRadioButton *option, const std::function<void()> &handler) {
    auto markedAtPress = std::make_shared<bool>(false);
    connect(option, &QRadioButton::pressed, this, [option, markedAtPress] { *markedAtPress = option->isChecked(); });
    connect(option, &QRadioButton::toggled, this, [handler](bool marked) {
        if (marked)
            handler();
    });
    connect(option, &QRadioButton::clicked, this, [markedAtPress, handler] {
        if (*markedAtPress)
            handler();
    });
}

void Form1::setClientHeight(int twips) {
    clientHeight_ = twips;
    setFixedSize(twipsToPixels(kClientWidth), twipsToPixels(twips));
}

QSize Form1::estimatedOuterSize() const {
    return {width() + kSideBordersPixels, height() + twipsToPixels(kTitleAndBorders)};
}

void Form1::reportFailure(const QString &description) {
    lineStateShown_ = false;
    Label22->setText(u' ' + description);
    announce(description);
}

void Form1::reportLineState(const QString &description) {
    Label22->setText(u' ' + description);
    lineStateShown_ = true;
    announce(description);
}

void Form1::announce(const QString &message) {
    if (!QAccessible::isActive() || !isActiveWindow())
        return;
    if (!announcer_)
        announcer_ = new window::Announcer(this);
    announcer_->announce(message);
}

void Form1::Form_Load() {
    PortSettings = QString::fromLatin1(serial::kStartSettings);
    setCommandPrefix(QString());

    // Centred as the full-height window it was made as: the window is not
    // on screen yet, so its frame is taken as the usual title bar and borders.
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->geometry();
        const int outerHeight = twipsToPixels(FullHeight.outer);
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - outerHeight) / 2);
    }
    setClientHeight(CompactHeight.client);  // the top edge stays
    // On a small screen the full-height window does not fit, and centring
    // it would put the title bar and the logo above the screen: the
    // compact window is moved into the screen's available area.
    if (screen)
        move(insideArea(QRect(pos(), estimatedOuterSize()), screen->availableGeometry()));

    RepeatCode = 0;
    setAwaitingReply(0);
    setRxBuffer(QString());

    if (!openStartPort())
        return;
    if (!Option1->isChecked())
        Option1->setChecked(true);  // runs Option1_Click, as a choice does
}

void Form1::Form_KeyDown(quint16 keyCode, quint16 shift) {
    if (keyCode != Qt::Key_J || (shift & (kShiftMask | kCtrlMask | kAltMask)) != kCtrlMask)
        return;
    setClientHeight(ArmedHeight.client);
    DataPanelArmed = 1;
    setCaption(Command34, kDataViewClose);
    Command34->setVisible(true);
}

void Form1::Image1_DblClick() {
    if (DataPanelArmed != 1)
        return;
    setClientHeight(FullHeight.client);
    setCaption(Command34, kDataViewClose);
    Command34->setVisible(true);
}

void Form1::Command34_Click() {
    Timer3.stop();
    DataPanelArmed = 0;
    if (clientHeight() < kDataViewClientThreshold) {
        setClientHeight(DataViewHeight.client);
        setCaption(Command34, kDataViewHide);
    } else {
        setClientHeight(CompactHeight.client);
        setCaption(Command34, kDataViewShow);
    }
    Timer3.start();
}

void Form1::Command33_Click() {
    Frame8->setVisible(true);
    Timer3.start();
}

void Form1::Command16_Click() {
    (void)MSComm1.setPortOpen(false);  // accepted when already closed
    stopEverything();
    ended_ = true;
    close();
    emit ended();
}

void Form1::endLostHold() {
    // After END nothing of the program runs any more.
    if (ended_)
        return;
    for (const HoldButton &button : kHoldButtons)
        qobject_cast<window::HoldPushButton *>(control(button.control))->endHold();
}

void Form1::stopEverything() {
    for (QTimer *timer : timersOf(*this))
        timer->stop();
    MSComm1.blockSignals(true);  // pending serial events are dropped
}

void Form1::closeEvent(QCloseEvent *event) {
    if (!ended_) {
        // Closed from the title bar: release the port all the same.
        (void)MSComm1.setPortOpen(false);
        stopEverything();
        ended_ = true;
    }
    event->accept();
}

bool Form1::eventFilter(QObject *watched, QEvent *event) {
    // The window no longer on the screen (another desktop, unmapped): a
    // held button's release will go elsewhere.
    if (event->type() == QEvent::Expose && watched == windowHandle() && !windowHandle()->isExposed())
        endLostHold();

    // Key preview: the window sees every key press before the control with
    // the focus, and lets the control have it afterwards. A press that the
    // control ignores travels on to its parents as the same event; it is
    // previewed only once.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto *widget = static_cast<QWidget *>(watched);
        if (widget->window() == this) {
            const auto *key = static_cast<QKeyEvent *>(event);
            const auto *previous = qobject_cast<QWidget *>(previewedTarget_.data());
            const bool propagated = event == previewedEvent_ && key->key() == previewedKey_
                                 && key->timestamp() == previewedTimestamp_ && previous && widget != previous
                                 && widget->isAncestorOf(previous);
            previewedEvent_ = event;
            previewedTarget_ = watched;
            previewedKey_ = key->key();
            previewedTimestamp_ = key->timestamp();
            if (!propagated) {
                const Qt::KeyboardModifiers modifiers = key->modifiers();
                quint16 shift = 0;
                if (modifiers & Qt::ShiftModifier)
                    shift |= kShiftMask;
                if (modifiers & Qt::ControlModifier)
                    shift |= kCtrlMask;
                if (modifiers & Qt::AltModifier)
                    shift |= kAltMask;
                Form_KeyDown(static_cast<quint16>(key->key() & 0xFFFF), shift);
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::paintEvent(QPaintEvent *event) {
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.setPen(QPen(colourOf(kLineColour), kLineWidthPixels, Qt::SolidLine, Qt::FlatCap));
    for (const LineSpec &line : kLines)
        painter.drawLine(twipsToPixels(line.x1), twipsToPixels(line.y1), twipsToPixels(line.x2),
                         twipsToPixels(line.y2));
}

}  // namespace mv70
