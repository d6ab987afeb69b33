#include "Form1.h"

#include "ApplicationTitle.h"
#include "FileList.h"
#include "Pointers.h"
#include "Settings.h"
#include "Widgets.h"
#include "files/PathUtil.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStringDecoder>

// The resources live in a static library: make sure the linker keeps them.
static void initResources() {
    Q_INIT_RESOURCE(resources);
}

namespace {

const char kListToolTipInput[] =
    "Drag and drop files here. Double-click item to remove it. Move | line to right and out of "
    "window to reveal full names.";
const char kListToolTipResult[] =
    "Double-click item to remove it. Move | line to right and out of window to reveal full "
    "names.";

QFont windowFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(9);
    font.setWeight(QFont::Bold);
    return font;
}

QFont buttonFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(11.25);
    font.setWeight(QFont::Bold);
    return font;
}

void fillBackground(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// The option's frame and check box on `colour`: a frame whose caption sits on its top border.
// The colour is named in the style sheet itself, since a style sheet's palette(window) is not
// the palette set on the widget.
void fillOptionBackground(QGroupBox* frame, QCheckBox* box, const QColor& colour) {
    fillBackground(frame, colour);
    fillBackground(box, colour);
    const QString name = colour.name();
    frame->setStyleSheet(
        QStringLiteral("QGroupBox { background: %1; border: 1px solid #a0a0a0; border-radius: 2px;"
                       " margin-top: 7px; }"
                       "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top "
                       "left; left: 7px; padding: 0 3px; background: %1; }"
                       "QCheckBox { background: %1; }")
            .arg(name));
}

}  // namespace

Form1::Form1(Platform& platform, SettingsStore& settings, QString programFolder, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      platform_(platform),
      settings_(settings),
      programFolder_(std::move(programFolder)) {
    ApplicationTitle = QStringLiteral("Brellix");
    initResources();
    buildControls();
    wireEvents();
    Form_Load();
}

Form1::~Form1() = default;

void Form1::buildControls() {
    setObjectName(QStringLiteral("Form1"));
    setFont(windowFont());
    setFixedSize(Twips(8040), Twips(9555));
    fillBackground(this, Qt::white);
    setMouseTracking(true);

    // The buttons draw their keyboard focus plainly; the style lives as long as the window.
    auto* focusStyle = new FocusFrameStyle(QApplication::style()->name());
    focusStyle->setParent(this);
    const auto button = [this, focusStyle](const char* name, const char* caption, int left, int top,
                                           int width) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(Twips(left), Twips(top), Twips(width), Twips(405));
        b->setFont(buttonFont());
        b->setAutoDefault(false);
        b->setStyle(focusStyle);
        return b;
    };
    const auto list = [this](const char* name, const char* toolTip, int top) {
        auto* l = new FileList(this);
        l->setObjectName(QString::fromLatin1(name));
        l->setGeometry(Twips(120), Twips(top), Twips(7800), Twips(1575));
        l->setToolTip(QString::fromUtf8(toolTip));
        return l;
    };

    PushButton8 = button("PushButton8", "Help", 120, 120, 7800);
    ListView1 = list("ListView1", kListToolTipInput, 615);
    PushButton5 = button("PushButton5", "Add XML File(s)", 120, 2280, 3840);
    PushButton3 = button("PushButton3", "Add All XML File(s) In Folder", 4080, 2280, 3840);
    PushButton11 = button("PushButton11", "Clear List", 120, 2790, 3840);
    PushButton7 = button("PushButton7", "Load Sample/Example Files", 4080, 2790, 3840);

    Frame1 = new QGroupBox(QStringLiteral("Option For Invalid Results"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(Twips(120), Twips(3300), Twips(7800), Twips(735));
    Frame1->setMouseTracking(true);
    Check1 =
        new OptionCheckBox(QStringLiteral("Show XML error message in invalid results"), Frame1);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setGeometry(Twips(240), Twips(300), Twips(4215), Twips(255));
    // The frame and the check box use the window font, which a style sheet would not pass on.
    Frame1->setFont(windowFont());
    Check1->setFont(windowFont());
    fillOptionBackground(Frame1, Check1, Qt::white);

    PushButton4 = button("PushButton4", "Start Checking", 120, 4150, 7800);
    ListView2 = list("ListView2", kListToolTipResult, 4680);
    PushButton6 = button("PushButton6", "Save Results", 120, 6345, 3840);
    PushButton9 = button("PushButton9", "Clear List", 4080, 6345, 3840);
    ListView3 = list("ListView3", kListToolTipResult, 6840);
    PushButton1 = button("PushButton1", "Save Results", 120, 8505, 3840);
    PushButton2 = button("PushButton2", "Clear List", 4080, 8505, 3840);

    ProgressBar1 = new TextProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(Twips(120), Twips(9030), Twips(7800), Twips(405));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(true);
    ProgressBar1->setAlignment(Qt::AlignCenter);
    ProgressBar1->setText(QStringLiteral("Progress Bar"));

    // The pointer stays as it is over the check box and the progress bar.
    Check1->setAttribute(Qt::WA_NoMousePropagation);
    ProgressBar1->setAttribute(Qt::WA_NoMousePropagation);
    ProgressBar1->setFocusPolicy(Qt::NoFocus);

    // The input list takes drops; only its own handlers decide what a drop does.
    ListView1->setAcceptDrops(true);
    ListView1->viewport()->setAcceptDrops(true);
    ListView1->setDragDropMode(QAbstractItemView::DropOnly);
    ListView1->setDragEnabled(false);

    // Keyboard focus order.
    QWidget* order[] = {ListView1,   PushButton5, PushButton3, PushButton11, PushButton7,
                        PushButton4, ListView2,   PushButton6, PushButton9,  ListView3,
                        PushButton1, PushButton2, Check1,      PushButton8};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
    ListView1->setFocus();
}

void Form1::wireEvents() {
    const auto click = [this](QPushButton* b, void (Form1::*handler)()) {
        connect(b, &QPushButton::clicked, this, handler);
    };
    click(PushButton1, &Form1::PushButton1_Click);
    click(PushButton2, &Form1::PushButton2_Click);
    click(PushButton3, &Form1::PushButton3_Click);
    click(PushButton4, &Form1::PushButton4_Click);
    click(PushButton5, &Form1::PushButton5_Click);
    click(PushButton6, &Form1::PushButton6_Click);
    click(PushButton7, &Form1::PushButton7_Click);
    click(PushButton8, &Form1::PushButton8_Click);
    click(PushButton9, &Form1::PushButton9_Click);
    click(PushButton11, &Form1::PushButton11_Click);
    connect(Check1, &QCheckBox::stateChanged, this,
            [this] { unguarded("Check1_Click", [this] { Check1_Click(); }); });
    connect(ListView1, &QAbstractItemView::pressed, this,
            [this] { unguarded("ListView1_ItemClick", [this] { ListView1_ItemClick(); }); });

    // Events that the controls report through the window's event filter. A handler that
    // returns false lets the control act on the event as well.
    const auto passOn = [](auto handler) {
        return [handler](QEvent*) {
            handler();
            return false;
        };
    };
    for (QPushButton* b : {PushButton1, PushButton2, PushButton3, PushButton4, PushButton5,
                           PushButton6, PushButton7, PushButton8, PushButton9, PushButton11}) {
        b->setMouseTracking(true);
        b->setAttribute(Qt::WA_NoMousePropagation);
        for (QEvent::Type type : {QEvent::MouseMove, QEvent::Enter})
            route(b, type, "PushButton_MouseMove", passOn([this] { PushButton_MouseMove(); }));
        // Return and Enter click a focused button, as Space does.
        route(b, QEvent::KeyPress, "PushButton_KeyDown", [b](QEvent* e) {
            const int key = static_cast<QKeyEvent*>(e)->key();
            if (key != Qt::Key_Return && key != Qt::Key_Enter)
                return false;
            b->click();
            return true;
        });
    }
    route(Frame1, QEvent::MouseMove, "Frame1_MouseMove", passOn([this] { Frame1_MouseMove(); }));

    QWidget* const input = ListView1->viewport();
    const auto position = [](QEvent* e) {
        return static_cast<QMouseEvent*>(e)->position().toPoint();
    };
    route(input, QEvent::MouseButtonPress, "ListView1_MouseDown",
          [this](QEvent*) { return ListView1_MouseDown(); });
    route(input, QEvent::MouseMove, "ListView1_MouseMove", [this, position](QEvent* e) {
        return ListView1_MouseMove(static_cast<QMouseEvent*>(e)->buttons(), position(e));
    });
    route(input, QEvent::MouseButtonRelease, "ListView1_MouseUp",
          [this](QEvent*) { return ListView1_MouseUp(); });
    // The first press of the double-click has selected the row; the list must not act on the
    // double-click itself, or it would select the row that moved up.
    route(input, QEvent::MouseButtonDblClick, "ListView1_DblClick", [this](QEvent*) {
        ListView1_DblClick();
        return true;
    });
    for (QEvent::Type type : {QEvent::DragEnter, QEvent::DragMove}) {
        route(input, type, "ListView1_OLEDragOver", [this](QEvent* e) {
            auto* drag = static_cast<QDragMoveEvent*>(e);
            // The event is answered first: should the handler fail, the drop is refused.
            drag->ignore();
            if (ListView1_OLEDragOver(drag->mimeData()))
                drag->acceptProposedAction();
            return true;
        });
    }
    route(input, QEvent::Drop, "ListView1_OLEDragDrop", [this](QEvent* e) {
        auto* drop = static_cast<QDropEvent*>(e);
        drop->acceptProposedAction();
        ListView1_OLEDragDrop(drop->mimeData());
        return true;
    });

    struct ResultList {
        FileList* list;
        const char* mouseMove;
        void (Form1::*onMouseMove)();
        const char* dblClick;
        void (Form1::*onDblClick)();
        const char* keyDown;
        void (Form1::*onKeyDown)(int);
    };
    for (const ResultList& r :
         {ResultList{ListView2, "ListView2_MouseMove", &Form1::ListView2_MouseMove,
                     "ListView2_DblClick", &Form1::ListView2_DblClick, "ListView2_KeyDown",
                     &Form1::ListView2_KeyDown},
          ResultList{ListView3, "ListView3_MouseMove", &Form1::ListView3_MouseMove,
                     "ListView3_DblClick", &Form1::ListView3_DblClick, "ListView3_KeyDown",
                     &Form1::ListView3_KeyDown}}) {
        route(r.list->viewport(), QEvent::MouseMove, r.mouseMove,
              passOn([this, r] { (this->*r.onMouseMove)(); }));
        route(r.list->viewport(), QEvent::MouseButtonDblClick, r.dblClick, [this, r](QEvent*) {
            (this->*r.onDblClick)();
            return true;
        });
        route(r.list, QEvent::KeyPress, r.keyDown, [this, r](QEvent* e) {
            const auto* press = static_cast<QKeyEvent*>(e);
            if (RowKey(*r.list, *press))
                return true;
            (this->*r.onKeyDown)(press->key());
            return press->key() == Qt::Key_Delete;
        });
    }
    route(ListView1, QEvent::KeyPress, "ListView1_KeyDown",
          [this](QEvent* e) { return RowKey(*ListView1, *static_cast<QKeyEvent*>(e)); });
    for (FileList* l : {ListView1, ListView2, ListView3}) {
        l->viewport()->setMouseTracking(true);
        route(l->viewport(), QEvent::ContextMenu, "RowMenu", [this, l](QEvent* e) {
            const auto* menu = static_cast<QContextMenuEvent*>(e);
            RowMenu(*l, l->rowAt(menu->pos()), menu->globalPos());
            return true;
        });
    }
}

void Form1::route(QObject* watched, QEvent::Type type, const char* name, EventHandler handler) {
    watched->removeEventFilter(this);
    watched->installEventFilter(this);
    eventRoutes_.insert({watched, type}, [this, name, handler = std::move(handler)](QEvent* e) {
        return unguarded(name, [&] { return handler(e); });
    });
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    const auto found = eventRoutes_.constFind({watched, event->type()});
    if (found != eventRoutes_.constEnd())
        return (*found)(event);
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// Start-up

void Form1::Form_Load() {
    Guard guard = guardOf(QStringLiteral("Form_Load"));
    guard.step(100, [this] { ApplyWindowSkin(); });
    const QString handPicture = programFolder_ + QStringLiteral("/HAND-M.CUR");
    if (guard.test(104, [&] { return FileExists(handPicture); }))
        guard.step(106, [&] { customPointer_ = LoadPointerFile(handPicture); });
    guard.step(126, [this] { setWindowTitle(QStringLiteral("Brellix")); });
    guard.step(126, [this] {
        const QIcon icon(QStringLiteral(":/brellix.ico"));
        if (icon.isNull())
            throw StepFailure(QStringLiteral("The application icon could not be loaded"));
        setWindowIcon(icon);
    });
    guard.step(126, [this] { SetApplicationTitle(); });
    const int column = Twips(7300);
    guard.step(128, [this] { ListView1->addColumn(QStringLiteral("XML File(s)")); });
    guard.step(130, [&] { ListView1->setColumnWidth(0, column); });
    guard.step(132, [this] { ListView2->addColumn(QStringLiteral(" Valid XML File(s)")); });
    guard.step(134, [&] { ListView2->setColumnWidth(0, column); });
    guard.step(136, [this] { ListView3->addColumn(QStringLiteral("Invalid XML File(s)")); });
    guard.step(138, [&] { ListView3->setColumnWidth(0, column); });
    guard.step(140, [this] {
        const QString stored = settings_.read(QStringLiteral("Check1"), QStringLiteral("1"));
        bool isNumber = false;
        const int value = stored.trimmed().toInt(&isNumber);
        if (!isNumber)
            throw StepFailure(
                QStringLiteral("Type mismatch: the stored \"Check1\" value \"%1\" is not a number")
                    .arg(stored));
        Check1->setValue(value);
    });
}

void Form1::ApplyWindowSkin() {
    const QString skinFile = programFolder_ + QStringLiteral("/x/o.cjs");
    const QFileInfo info(skinFile);
    if (!info.exists() || !info.isFile() || info.isHidden())
        return;
    const QColor buttonFace = QGuiApplication::palette().color(QPalette::Button);
    fillBackground(this, buttonFace);
    fillOptionBackground(Frame1, Check1, buttonFace);

    QFile file(skinFile);
    if (!file.open(QIODevice::ReadOnly))
        throw StepFailure(QStringLiteral("The skin file %1 could not be opened: %2")
                              .arg(skinFile, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw StepFailure(QStringLiteral("The skin file %1 could not be read: %2")
                              .arg(skinFile, file.errorString()));
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString styleSheet = utf8(bytes);
    if (utf8.hasError())
        throw StepFailure(QStringLiteral("The skin file %1 is not UTF-8 text").arg(skinFile));
    setStyleSheet(styleSheet);
}

void Form1::SetApplicationTitle() {
    ApplicationTitle = ApplicationTitleFor(QStringLiteral("Brellix"));
}

void Form1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (centred_)
        return;
    centred_ = true;
    if (const QScreen* screen = this->screen())
        move(CentredPosition(frameGeometry().size(), screen->availableGeometry()));
}

// ---------------------------------------------------------------------------------------------
// End

QPoint CentredPosition(QSize frame, QRect available) {
    QRect placed(QPoint(), frame);
    placed.moveCenter(available.center());
    // On a screen smaller than the window its title bar and left edge stay on the screen.
    placed.moveTop(std::max(placed.top(), available.top()));
    placed.moveLeft(std::max(placed.left(), available.left()));
    return placed.topLeft();
}

void Form1::closeEvent(QCloseEvent* event) {
    event->accept();
    Form_Unload();
}

void Form1::Form_Unload() {
    unloaded_ = true;
    platform_.endProgram();
}

bool Form1::PumpEvents() {
    if (!unloaded_)
        QCoreApplication::processEvents();
    return !unloaded_;
}

// ---------------------------------------------------------------------------------------------
// Pointers

void Form1::SetWindowPointer(WindowPointer pointer) {
    pointer_ = pointer;
    switch (pointer) {
        case WindowPointer::Default:
            unsetCursor();
            break;
        case WindowPointer::Busy:
            setCursor(Qt::WaitCursor);
            break;
        case WindowPointer::Custom:
            setCursor(customPointer_);
            break;
    }
}

void Form1::mouseMoveEvent(QMouseEvent* event) {
    unguarded("Form_MouseMove", [this] { Form_MouseMove(); });
    QWidget::mouseMoveEvent(event);
}

void Form1::Form_MouseMove() {
    if (!IsBusy())
        SetWindowPointer(WindowPointer::Default);
}

void Form1::PushButton_MouseMove() {
    if (!IsBusy())
        SetWindowPointer(WindowPointer::Custom);
}

void Form1::Frame1_MouseMove() {
    Form_MouseMove();
}

void Form1::ListView2_MouseMove() {
    Form_MouseMove();
}

void Form1::ListView3_MouseMove() {
    Form_MouseMove();
}

// ---------------------------------------------------------------------------------------------
// Help and the option

QString Form1::helpAddress() {
    return QStringLiteral("https://www.w3schools.com/xml/xml_validator.asp");
}

void Form1::PushButton8_Click() {
    Guard guard = guardOf(QStringLiteral("PushButton8_Click"));
    QString address;
    guard.step(100, [&] { address = helpAddress(); });
    bool open = true;
    guard.step(102, [&] {
        const QString question =
            QStringLiteral("This software will syntax-check your multiple XML files just like ") +
            address + QStringLiteral(".\r\rWould you like to open the web site ") + address +
            QStringLiteral(" ?");
        open = MsgBox(question, MessageButtons::YesNo) == MessageAnswer::Yes;
    });
    if (!open)
        return;
    guard.step(104, [&] { platform_.openUrl(QUrl(address)); });
}

void Form1::Check1_Click() {
    settings_.write(QStringLiteral("Check1"), QString::number(Check1->value()));
}

// ---------------------------------------------------------------------------------------------
// Shared services

MessageAnswer Form1::MsgBox(const QString& text, MessageButtons buttons) {
    return platform_.showMessage(this, text, ApplicationTitle, buttons, MessageIcon::None);
}

void Form1::reportUnguardedFailure(const char* handler) {
    errorBox_.reportFailure(CurrentExceptionDescription(),
                            Form1Location(QString::fromLatin1(handler)), 0);
}
