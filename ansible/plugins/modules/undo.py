# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: undo
short_description: Undo a repair run of Corvane in a Wine prefix
description:
  - Runs C(corvane-cli undo --json) on the last repair run of the prefix's journal, or
    on run I(run), or only on its items I(ids).
  - Reads the journal first (C(corvane-cli history --json)); when every item asked for
    is undone already nothing is run and C(changed) is false. In check mode it only
    reports whether something would be undone.
  - An item changed since its repair is left as it is and the module fails with
    corvane-cli's message and exit code; so is an undo while Wine runs for the prefix.
version_added: 1.0.0
author: Corvane maintainers
options:
  prefix:
    description: The prefix folder; default as corvane-cli chooses ($WINEPREFIX, else ~/.wine).
    type: path
  executable:
    description: The C(corvane-cli) to run; default the one on C(PATH).
    type: path
  run:
    description: The number of the run to undo; default the last one.
    type: int
  ids:
    description: Only these items of the run (their IDs); default all of them.
    type: list
    elements: str
notes:
  - Run it as the user whose prefix it is (C(become_user)).
'''

EXAMPLES = r'''
- name: Undo the last repair of ~/.wine
  corvane.wine.undo:
  become: true
  become_user: alice

- name: Undo one item of run 3
  corvane.wine.undo:
    run: 3
    ids: ['46']
'''

RETURN = r'''
run:
  description: The run undone.
  returned: when a run was found
  type: int
items:
  description: Per item undone C(id), C(name), C(result), C(reason) and C(note) (in check
    mode the items that would be undone, from the journal). Read it as C(result['items']).
  returned: success
  type: list
  elements: dict
rc:
  description: The exit code of the last corvane-cli run.
  returned: always
  type: int
data:
  description: The JSON of the last corvane-cli run.
  returned: success
  type: dict
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.corvane.wine.plugins.module_utils.corvane import done, run_cli


def main():
    module = AnsibleModule(
        argument_spec=dict(prefix=dict(type='path'), executable=dict(type='path'),
                           run=dict(type='int'), ids=dict(type='list', elements='str')),
        supports_check_mode=True)
    params = module.params
    rc, history = run_cli(module, 'history', library=False)
    runs = history['runs']
    if params['run'] is not None:
        runs = [r for r in runs if r['run'] == params['run']]
    # With no such run corvane-cli itself says so, below.
    if runs:
        run = runs[0]
        pending = [item for item in run['items'] if not item['undone']
                   and (params['ids'] is None or item['id'] in params['ids'])]
        asked = params['ids'] or []
        held = [item['id'] for item in run['items']]
        if not pending and all(i in held for i in asked):
            done(module, changed=False, rc=rc, run=run['run'], items=[], data=history)
        if module.check_mode:
            done(module, changed=True, rc=rc, run=run['run'], items=pending, data=history)
    elif module.check_mode:
        done(module, changed=False, rc=rc, items=[], data=history)

    # corvane-cli takes IDs only after a run: the last one when none is given.
    args = []
    if params['run'] is not None:
        args.append(params['run'])
    elif params['ids'] and runs:
        args.append(runs[0]['run'])
    args += params['ids'] or []
    rc, undone = run_cli(module, 'undo', args, library=False)
    done(module, changed=True, rc=rc, run=undone['run'], items=undone['items'], data=undone)


if __name__ == '__main__':
    main()
