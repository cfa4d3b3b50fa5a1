// The part of the extension both generations share: one object on the Shell's own session bus
// connection (so at org.gnome.Shell), with List and Move, every value from the bus checked. It
// keeps no state between calls.

const TOPLEFT_INTERFACE = `
<node>
  <interface name="org.topleft.Windows">
    <method name="List">
      <arg type="a(tsiiiibbbbitib)" direction="out" name="windows"/>
      <arg type="a(siiiiiiiib)" direction="out" name="monitors"/>
    </method>
    <method name="Move">
      <arg type="t" direction="in" name="id"/>
      <arg type="i" direction="in" name="x"/>
      <arg type="i" direction="in" name="y"/>
      <arg type="a(tsiiiibbbbitib)" direction="out" name="windows"/>
    </method>
  </interface>
</node>`;
const TOPLEFT_PATH = '/org/topleft/Windows';
const TOPLEFT_NO_WINDOW = 'org.topleft.Windows.Error.NoSuchWindow';
const TOPLEFT_BAD_INPUT = 'org.freedesktop.DBus.Error.InvalidArgs';

// Every window Mutter manages that has a title, topmost first.
function topleftWindows() {
    const all = global.get_window_actors().map(actor => actor.get_meta_window())
        .filter(w => w && !w.is_override_redirect() && w.get_title());
    return global.display.sort_windows_by_stacking(all).reverse();
}

// Maximised both ways: GNOME Shell 50's Mutter says so in one call, earlier ones give the ways.
function topleftMaximised(window) {
    return typeof window.is_maximized === 'function' ? window.is_maximized()
        : window.get_maximized() === Meta.MaximizeFlags.BOTH;
}

// What topleft judges a window by: its frame, whether it is minimised, focused, shown (on the
// workspace in view) and maximised, Mutter's layer, the window it is a dialog of (0 for none),
// its program's process (0 where unknown) and whether it is a dialog of no window, so of its
// whole application. A window whose description cannot be made (a title that is no text) is left
// out.
function topleftDescribe(window) {
    try {
        const frame = window.get_frame_rect();
        const parent = window.get_transient_for();
        const shown = !window.minimized && window.showing_on_its_workspace() &&
            window.located_on_workspace(global.workspace_manager.get_active_workspace());
        const dialog = [Meta.WindowType.DIALOG, Meta.WindowType.MODAL_DIALOG].includes(window.get_window_type());
        return [window.get_id(), window.get_title(), frame.x, frame.y, frame.width, frame.height, window.minimized,
            global.display.focus_window === window, shown, topleftMaximised(window), window.get_layer(),
            parent ? parent.get_id() : 0,
            Math.max(window.get_pid(), 0), dialog && !parent];
    } catch (e) {
        return null;
    }
}

// The monitor that shows the point, or -1.
function topleftMonitorAt(x, y) {
    for (let i = 0; i < global.display.get_n_monitors(); ++i) {
        const area = global.display.get_monitor_geometry(i);
        if (x >= area.x && y >= area.y && x < area.x + area.width && y < area.y + area.height)
            return i;
    }
    return -1;
}

function topleftMonitors() {
    const monitors = [];
    const primary = global.display.get_primary_monitor();
    for (let i = 0; i < global.display.get_n_monitors(); ++i) {
        const area = global.display.get_monitor_geometry(i);
        const work = global.workspace_manager.get_active_workspace().get_work_area_for_monitor(i);
        monitors.push([`${i}`, area.x, area.y, area.width, area.height, work.x, work.y, work.width, work.height,
            i === primary]);
    }
    return monitors;
}

const TopleftService = class {
    ListAsync(parameters, invocation) {
        const windows = topleftWindows();
        invocation.return_value(new GLib.Variant('(a(tsiiiibbbbitib)a(siiiiiiiib))',
            [windows.map(topleftDescribe).filter(w => w), topleftMonitors()]));
    }

    // Shown again if minimised, moved as a program's request (Mutter's constraints apply), raised
    // and focused with the current time; the answer is the window as the move left it and every
    // window then above it, topmost first. A window maximised on another monitor than the one at
    // the place asked for is maximised on that one instead, as GNOME moves one between monitors.
    MoveAsync(parameters, invocation) {
        const [id, x, y] = parameters;
        if (typeof id !== 'bigint' && typeof id !== 'number' || !Number.isInteger(x) || !Number.isInteger(y)) {
            invocation.return_dbus_error(TOPLEFT_BAD_INPUT, 'Move takes a window id and two integers');
            return;
        }
        const window = topleftWindows().find(w => String(w.get_id()) === String(id));
        if (!window) {
            invocation.return_dbus_error(TOPLEFT_NO_WINDOW, `no window has the id ${id}`);
            return;
        }
        const time = global.get_current_time();
        if (window.minimized)
            window.unminimize();
        const monitor = topleftMonitorAt(x, y);
        if (topleftMaximised(window) && monitor >= 0 && monitor !== window.get_monitor())
            window.move_to_monitor(monitor);
        else
            window.move_frame(false, x, y);
        window.raise();
        window.activate(time);
        const windows = topleftWindows();
        invocation.return_value(new GLib.Variant('(a(tsiiiibbbbitib))',
            [windows.slice(0, windows.indexOf(window) + 1).map(topleftDescribe).filter(w => w)]));
    }
};

function topleftExport() {
    const exported = Gio.DBusExportedObject.wrapJSObject(TOPLEFT_INTERFACE, new TopleftService());
    exported.export(Gio.DBus.session, TOPLEFT_PATH);
    return exported;
}
