# -*- coding: utf-8 -*-
# What the corvane.wine modules share: running corvane-cli with --json on the managed
# machine and reading its output (format 1, docs/cli-json.md). corvane-cli is the
# engine; the modules only choose its arguments and report what it says.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

FORMAT = 1

COMMON_OPTIONS = dict(
    prefix=dict(type='path'),
    library=dict(type='path'),
    executable=dict(type='path'),
)


def executable(module):
    return module.params['executable'] or module.get_bin_path('corvane-cli', required=True)


def run_cli(module, command, args=(), ok=(0,), prefix=True, library=True, json_output=True):
    """Runs `corvane-cli COMMAND [--prefix] [--library] [--json] ARGS`; returns (rc, data).

    An exit code outside `ok` fails the module with Corvane's own message (its standard
    error) and exit code."""
    params = module.params
    cmd = [executable(module), command]
    if prefix and params.get('prefix'):
        cmd += ['--prefix', params['prefix']]
    if library and params.get('library'):
        cmd += ['--library', params['library']]
    if json_output:
        cmd.append('--json')
    cmd += [str(a) for a in args]
    rc, out, err = module.run_command(cmd)
    data = None
    if json_output and out.strip():
        try:
            data = json.loads(out)
        except ValueError:
            module.fail_json(msg='corvane-cli %s printed no JSON' % command, rc=rc,
                             stdout=out, stderr=err, cmd=cmd)
        if not isinstance(data, dict) or data.get('format') != FORMAT:
            module.fail_json(msg='corvane-cli %s speaks JSON format %r, this collection %d'
                             % (command, data.get('format') if isinstance(data, dict) else None,
                                FORMAT), rc=rc, cmd=cmd)
    if rc not in ok:
        message = err.strip() or 'corvane-cli %s exited with %d' % (command, rc)
        module.fail_json(msg=message, rc=rc, data=data, stderr=err, cmd=cmd,
                         changed=failed_changes(data))
    if not json_output:
        return rc, out
    return rc, data


def done(module, **result):
    """Ends the module with `result`. corvane-cli's exit code 1 (items found) is no
    failure, and Ansible takes a non-zero `rc` for one unless `failed` says otherwise."""
    module.exit_json(failed=False, **result)


def failed_changes(data):
    """Whether a repair or undo that failed still changed something."""
    if not isinstance(data, dict) or data.get('dryRun'):
        return False
    return any(item.get('result') in (u'修复成功', u'已撤销') for item in data.get('items', []))


def scan(module):
    """The items corvane-cli finds in the prefix: (rc, data)."""
    return run_cli(module, 'scan', ok=(0, 1))
