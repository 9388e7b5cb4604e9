"""What every mock template of the board sandbox shares.

The templates in this directory are python-dbusmock templates, one process per
mocked service.  Plain dbusmock lacks two things the tests rely on, and this
module adds them:

  * Typed properties.  Properties are declared with their D-Bus signature, and
    org.freedesktop.DBus.Properties.Set refuses an unknown property, a value
    of the wrong type or a read-only property with an error, as an sd-bus
    (sdbusplus) server does, instead of storing anything it is given.  Every
    Set attempt, refused or not, is recorded in the call log.  A value of the
    wrong type can still be stored on purpose with Mock.UpdateProperties.

  * One call log for the whole process.  dbusmock keeps a call log per object
    with one-second timestamps, so the order of calls across objects is lost.
    Every recorded call also goes into a process-wide log, readable through
    org.freedesktop.DBus.Mock.GetAllCalls() -> a(tosav) (sequence number,
    object path, method, arguments) on the main object and emptied by
    ClearAllCalls().  Neither of the two is recorded itself.

  * Values as text.  GetAllCallsText, GetPropertyText, UpdatePropertyText,
    EmitSignalText and EmitPropertiesChangedText on the main object's Mock
    interface take and give values as "type:value" text, so the tests'
    client needs no D-Bus value codec of its own; FailMethod and FailSet
    make a method, or the Set of one property, answer with a D-Bus error.  Sequence numbers
    keep growing across ClearAllCalls and Mock.Reset.

Methods are added with add_method() rather than dbusmock's AddMethod: that
never puts a method on the DBusMockObject class, which all objects of the
process share (a template method named like a Mock method, Reset say, would
otherwise break Mock.Reset for every object).  Test-control methods on the
Mock interface are added unrecorded, so a test's set-up calls do not show up
among the calls it asserts on.

A template calls setup(mock) first in its load(), then declares its objects
with add_object() / add_properties().  Only declared properties can be Set:
one a test adds with Mock.AddProperty is refused, and an object a test adds
with Mock.AddObject has dbusmock's own untyped Set.
"""

import decimal
import itertools

import dbus
import dbus.service
import dbusmock.mockobject as mockobject

MOCK_IFACE = mockobject.MOCK_IFACE
PROPS_IFACE = dbus.PROPERTIES_IFACE
OBJECT_MANAGER_IFACE = mockobject.OBJECT_MANAGER_IFACE
INVALID_ARGS = 'org.freedesktop.DBus.Error.InvalidArgs'
READ_ONLY = 'org.freedesktop.DBus.Error.PropertyReadOnly'
INVALID_ENUM = 'xyz.openbmc_project.sdbusplus.Error.InvalidEnumString'


def error(name, message):
    return dbus.exceptions.DBusException(message, name=name)


# ---------------------------------------------------------------------------
# The process-wide call log.

_all_calls = []
_sequence = itertools.count(1)


class _RecordingLog(list):
    """An object's own call log that also feeds the process-wide one."""

    def __init__(self, path, entries=()):
        super().__init__(entries)
        self.path = path

    def append(self, entry):
        super().append(entry)
        _, method, args = entry
        _all_calls.append((dbus.UInt64(next(_sequence)), dbus.ObjectPath(self.path),
                           dbus.String(method), dbus.Array(args, signature='v')))


def _get_call_log(self):
    log = self.__dict__.get('_recording_log')
    if log is None:
        log = _RecordingLog(self.__dict__.get('path', '/'), self.__dict__.pop('call_log', ()))
        self.__dict__['_recording_log'] = log
    return log


def _set_call_log(self, entries):
    self.__dict__['_recording_log'] = _RecordingLog(self.__dict__.get('path', '/'), entries)


# dbusmock appends every recorded call (template methods, AddMethod methods)
# to self.call_log and replaces the list on ClearCalls; a data descriptor on
# the shared class catches both for every object.
mockobject.DBusMockObject.call_log = property(_get_call_log, _set_call_log)


def _get_all_calls(_self):
    return dbus.Array(_all_calls, signature='(tosav)')


def _clear_all_calls(_self):
    _all_calls.clear()
    for obj in list(mockobject.objects.values()):
        obj.call_log = []
    _self.call_log = []


# ---------------------------------------------------------------------------
# Methods.

def add_method(obj, iface, name, in_sig, out_sig, impl, recorded=True):
    """Export impl(obj, *args) as method NAME of IFACE on OBJ.

    Recorded methods go through dbusmock's own dispatch (argument conversion,
    log file, call log, MethodCalled signal), so Mock.AddMethod can later
    replace them and Mock.Reset restore them, exactly like methods dbusmock
    added itself.
    """
    if recorded:
        def method(self, *args, **kwargs):
            return mockobject.DBusMockObject.mock_method(self, iface, name, in_sig, *args, **kwargs)
        code = impl
    else:
        def method(self, *args, **_kwargs):
            return impl(self, *mockobject._convert_args(in_sig, args))
        code = ''
    # dbus-python names the method after the function; a name such as
    # <lambda> would break Introspect for the whole object.
    method.__name__ = str(name)
    method.__qualname__ = str(name)
    dbus_method = dbus.service.method(iface, out_signature=out_sig)(method)
    # Set by hand, as dbusmock does: dbus-python's own in_signature check does
    # not accept a *args function.
    dbus_method._dbus_in_signature = in_sig
    dbus_method._dbus_args = [f'arg{i}' for i in range(1, len(dbus.Signature(in_sig)) + 1)]
    obj.methods.setdefault(iface, {})[str(name)] = (in_sig, out_sig, code, dbus_method)


# ---------------------------------------------------------------------------
# Typed properties.

# Subclasses before their bases: Boolean and Byte are ints, ObjectPath and
# Signature are strs.
_BASIC_TYPES = (
    (dbus.Boolean, 'b'), (dbus.Byte, 'y'), (dbus.Int16, 'n'), (dbus.UInt16, 'q'),
    (dbus.Int32, 'i'), (dbus.UInt32, 'u'), (dbus.Int64, 'x'), (dbus.UInt64, 't'),
    (dbus.Double, 'd'), (dbus.ObjectPath, 'o'), (dbus.Signature, 'g'), (dbus.types.UnixFd, 'h'),
    (dbus.String, 's'),
)


def signature_of(value, variants=0):
    """The D-Bus signature of a value dbus-python received.

    VARIANTS is how many variant levels the value arrived in that are part of
    its slot (1 for the value of Properties.Set); any further level means the
    value itself is a variant.
    """
    if getattr(value, 'variant_level', 0) > variants:
        return 'v'
    for cls, code in _BASIC_TYPES:
        if isinstance(value, cls):
            return code
    if isinstance(value, dbus.Dictionary) and value.signature:
        return 'a{' + str(value.signature) + '}'
    if isinstance(value, dbus.Array) and value.signature:
        return 'a' + str(value.signature)
    if isinstance(value, dbus.Struct):
        return '(' + ''.join(signature_of(v) for v in value) + ')'
    return '?'


def typed(sig, value):
    """VALUE (plain Python or dbus-python) as the dbus-python type of SIG."""
    return mockobject._convert_args(sig, (value,))[0]


class Prop:
    """Declaration of one property: D-Bus signature, initial value, and
    whether Set may change it.  ENUM, when given, is the prefix of a
    phosphor-dbus-interfaces enumeration ("xyz.openbmc_project.State.Host.
    HostState"): as in sdbusplus, Set then only accepts a full value name
    (prefix, dot, name), never a bare "Off"."""

    def __init__(self, sig, value, readonly=False, enum=None):
        self.sig = sig
        self.value = value
        self.readonly = readonly
        self.enum = enum


def _declarations(obj):
    return obj.__dict__.setdefault('_prop_decls', {})


def add_properties(obj, iface, props):
    """Declare properties (name -> Prop) of IFACE on OBJ and store their values."""
    decls = _declarations(obj).setdefault(iface, {})
    values = obj.props.setdefault(iface, {})
    for name, prop in props.items():
        decls[name] = prop
        values[name] = typed(prop.sig, prop.value)
    _install_typed_set(obj)


def typed_set(self, iface, name, value):
    """Properties.Set with the checks an sd-bus server makes.

    Available to code given to Mock.AddMethod as typed_set(self, *args), to
    fail the Set of one property and keep the others working."""
    decl = _declarations(self).get(iface, {}).get(name)
    if decl is None:
        raise error(INVALID_ARGS, f'Unknown property {iface}.{name} on {self.path}')
    if decl.readonly:
        raise error(READ_ONLY, f"Property '{name}' is not writable.")
    got = signature_of(value, 1)
    if got != decl.sig:
        raise error(INVALID_ARGS, f'{iface}.{name} has type {decl.sig}, got {got}')
    if decl.enum is not None:
        member = str(value)[len(decl.enum) + 1:]
        if not str(value).startswith(decl.enum + '.') or not member.isidentifier():
            raise error(INVALID_ENUM, f'{value!s} is not a value of {decl.enum}')
    new = typed(decl.sig, value)
    values = self.props.setdefault(iface, {})
    old = values.get(name)
    values[name] = new
    # As an sdbusplus server: PropertiesChanged only when the value changed.
    if old is None or signature_of(old) != decl.sig or old != new:
        emit_properties_changed(self, iface, {name: new})


# Code given to Mock.AddMethod runs with dbusmock's module globals.
mockobject.typed_set = typed_set


def _install_typed_set(obj):
    methods = obj.methods.get(PROPS_IFACE, {})
    if 'Set' not in methods:
        add_method(obj, PROPS_IFACE, 'Set', 'ssv', '', typed_set)


def emit_properties_changed(obj, iface, changed):
    obj.EmitSignal(PROPS_IFACE, 'PropertiesChanged', 'sa{sv}as',
                   [iface, dbus.Dictionary(changed, signature='sv'), dbus.Array([], signature='s')])


def set_property(obj, iface, name, value):
    """Change a declared property from inside the mock (the service's own
    doing, not a client's Set) and emit PropertiesChanged if it changed."""
    decl = _declarations(obj)[iface][name]
    new = typed(decl.sig, value)
    values = obj.props.setdefault(iface, {})
    if values.get(name) != new:
        values[name] = new
        emit_properties_changed(obj, iface, {name: new})


def add_object(mock, path, iface, props=None):
    """A new object at PATH whose primary interface is IFACE, with typed
    properties (name -> Prop) on it.  Returns the object."""
    mock.AddObject(path, iface, {}, [])
    obj = mockobject.objects[path]
    add_properties(obj, iface, props or {})
    return obj


def emit_interfaces_added(manager, path):
    """InterfacesAdded from the ObjectManager MANAGER for the object at PATH."""
    obj = mockobject.objects[path]
    manager.EmitSignal(OBJECT_MANAGER_IFACE, 'InterfacesAdded', 'oa{sa{sv}}',
                       [dbus.ObjectPath(path),
                        dbus.Dictionary({i: dbus.Dictionary(p, signature='sv')
                                         for i, p in obj.props.items()}, signature='sa{sv}')])


# ---------------------------------------------------------------------------
# Values as text, for test clients that do not decode D-Bus messages
# themselves: "3", "true", "replace", "[a,b]", "{k=s:v}", "(a,1)", and a
# variant shows the type of what it holds ("s:replace", "v:s:nested").

def _double_text(value):
    # The shortest form that reads back the same, fixed or scientific,
    # whichever is shorter (fixed on a tie): "3000", "0.5", "1e+05".
    r = repr(float(value))
    if r in ('inf', '-inf', 'nan'):
        return r
    d = decimal.Decimal(r)
    fixed = format(d, 'f')
    if '.' in fixed:
        fixed = fixed.rstrip('0').rstrip('.')
    sign, digits, exp = d.normalize().as_tuple()
    mantissa = str(digits[0]) + ('.' + ''.join(map(str, digits[1:])) if len(digits) > 1 else '')
    e = exp + len(digits) - 1
    sci = f"{'-' if sign else ''}{mantissa}e{'+' if e >= 0 else '-'}{abs(e):02d}"
    return fixed if len(fixed) <= len(sci) else sci


def value_text(value, sig):
    """VALUE, in a slot of type SIG, as text."""
    if sig == 'v':
        levels = max(getattr(value, 'variant_level', 0), 1)
        inner = signature_of(value, levels)
        return 'v:' * (levels - 1) + inner + ':' + value_text(value, inner)
    code = sig[0]
    if code == 'b':
        return 'true' if value else 'false'
    if code in 'ynqiuxth':
        return str(int(value))
    if code == 'd':
        return _double_text(value)
    if code in 'sog':
        return str(value)
    if sig.startswith('a{'):
        key, val = list(dbus.Signature(sig[2:-1]))
        return '{' + ','.join(value_text(k, key) + '=' + value_text(v, val)
                              for k, v in value.items()) + '}'
    if code == 'a':
        return '[' + ','.join(value_text(e, sig[1:]) for e in value) + ']'
    if code == '(':
        return '(' + ','.join(value_text(e, t) for e, t in
                              zip(value, dbus.Signature(sig[1:-1]))) + ')'
    raise error(INVALID_ARGS, f'cannot show D-Bus type {sig}')


def text_value(sig, text):
    """The value of basic type SIG, or array of one ("[a,b]", elements
    without commas), that TEXT spells, as it arrives in a variant."""
    if len(sig) == 2 and sig[0] == 'a':
        if not (text.startswith('[') and text.endswith(']')):
            raise error(INVALID_ARGS, f'an array value is written [a,b]: "{text}"')
        items = text[1:-1].split(',') if len(text) > 2 else []
        elements = [text_value(sig[1], t) for t in items]
        return dbus.Array(elements, signature=sig[1], variant_level=1)
    try:
        if sig == 'b':
            if text not in ('true', '1', 'false', '0'):
                raise ValueError
            plain = text in ('true', '1')
        elif sig in 'ynqiuxt':
            plain = int(text, 10)
        elif sig == 'd':
            plain = float(text)
        elif sig in 'sog':
            plain = text
        else:
            raise error(INVALID_ARGS, f'unsupported D-Bus signature "{sig}"')
        cls = dict((code, c) for c, code in _BASIC_TYPES)[sig]
        return cls(plain, variant_level=1)
    except (ValueError, OverflowError) as e:
        raise error(INVALID_ARGS, f'not a value of type {sig}: "{text}"') from e


def _get_all_calls_text(_self):
    return dbus.Array([(seq, path, method, dbus.Array([value_text(a, 'v') for a in args], signature='s'))
                       for seq, path, method, args in _all_calls], signature='(tosas)')


def _object(path):
    obj = mockobject.objects.get(str(path))
    if obj is None:
        raise error('org.freedesktop.DBus.Error.UnknownObject', f'no object {path}')
    return obj


def _get_property_text(_self, path, iface, prop):
    return value_text(_object(path).Get(iface, prop), 'v')


def _update_property_text(_self, path, iface, prop, sig, text):
    _object(path).UpdateProperties(iface, {prop: text_value(sig, text)})


def _emit_signal_text(_self, path, iface, name, sigs, texts):
    _object(path).EmitSignal(iface, name, ''.join(sigs),
                             [text_value(s, t) for s, t in zip(sigs, texts)])


def _emit_properties_changed_text(_self, path, iface, prop, sig, text):
    changed = dbus.Dictionary({prop: text_value(sig, text)}, signature='sv')
    _object(path).EmitSignal(PROPS_IFACE, 'PropertiesChanged', 'sa{sv}as',
                             [iface, changed, dbus.Array([], signature='s')])


def _raise_code(error_name, message):
    return f'raise dbus.exceptions.DBusException({str(message)!r}, name={str(error_name)!r})'


def _fail_method(_self, path, iface, name, in_sig, out_sig, error_name, message):
    _object(path).AddMethod(iface, name, in_sig, out_sig, _raise_code(error_name, message))


def _fail_set(_self, path, prop, error_name, message):
    # The other properties keep the typed Set.
    _object(path).AddMethod(PROPS_IFACE, 'Set', 'ssv', '',
                            f'if args[1] == {str(prop)!r}:\n'
                            f'    {_raise_code(error_name, message)}\n'
                            'typed_set(self, *args)\n')


# ---------------------------------------------------------------------------
# Template set-up.

def setup(mock):
    """Give the main object the process-wide log methods and typed Set.
    Call first in every template's load(); Mock.Reset calls load() again."""
    mock.__dict__.pop('_prop_decls', None)
    add_method(mock, MOCK_IFACE, 'GetAllCalls', '', 'a(tosav)', _get_all_calls, recorded=False)
    add_method(mock, MOCK_IFACE, 'ClearAllCalls', '', '', _clear_all_calls, recorded=False)
    for name, in_sig, out_sig, impl in (
            ('GetAllCallsText', '', 'a(tosas)', _get_all_calls_text),
            ('GetPropertyText', 'sss', 's', _get_property_text),
            ('UpdatePropertyText', 'sssss', '', _update_property_text),
            ('EmitSignalText', 'sssasas', '', _emit_signal_text),
            ('EmitPropertiesChangedText', 'sssss', '', _emit_properties_changed_text),
            ('FailMethod', 'sssssss', '', _fail_method),
            ('FailSet', 'ssss', '', _fail_set)):
        add_method(mock, MOCK_IFACE, name, in_sig, out_sig, impl, recorded=False)
    _install_typed_set(mock)


def param(parameters, name, default):
    """A template parameter, or DEFAULT when it is absent."""
    value = parameters.get(name)
    return default if value is None else value
