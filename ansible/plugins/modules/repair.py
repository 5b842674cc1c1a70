# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: repair
short_description: Repair the items Corvane finds in a Wine prefix
description:
  - Scans the prefix with C(corvane-cli scan --json), then repairs with
    C(corvane-cli repair --json) those of the items found that I(ids) names, or every
    item found at I(level) or above. Items not found are left alone, so a second run
    reports C(changed=false).
  - In check mode it runs C(corvane-cli repair --dry-run) and reports what would change;
    with C(--diff) each change's state before and after.
  - Every change is recorded first in the prefix's journal; M(corvane.wine.undo) takes
    it back.
  - Refused, with corvane-cli's message and exit code 2, while Wine runs for the prefix.
version_added: 1.0.0
author: Corvane maintainers
options:
  prefix:
    description: The prefix folder; default as corvane-cli chooses ($WINEPREFIX, else ~/.wine).
    type: path
  library:
    description: The rule library file; default the installed one (the user's copy of it).
    type: path
  executable:
    description: The C(corvane-cli) to run; default the one on C(PATH).
    type: path
  ids:
    description: The IDs of the items to repair, in the order to repair them.
    type: list
    elements: int
  level:
    description: Repair every item found at this level or above (0 "安全", 1 "普通",
      2 "风险", 3 "高风险", 4 "危险"; 2 and above are the red items).
    type: int
    choices: [0, 1, 2, 3, 4]
  stop_wine:
    description:
      - End the Wine programs of the prefix before repairing (C(corvane-cli repair
        --stop-wine)). When the corvane-cli run has no such option the module fails
        and changes nothing.
    type: bool
    default: false
notes:
  - Run it as the user whose prefix it is (C(become_user)).
  - Give either I(ids) or I(level).
'''

EXAMPLES = r'''
- name: Repair the red items of ~/.wine
  corvane.wine.repair:
    level: 2
  become: true
  become_user: alice

- name: Repair two items, showing what changes
  corvane.wine.repair:
    prefix: /home/alice/games/office
    ids: [1, 46]
  diff: true
'''

RETURN = r'''
items:
  description: Per item repaired (C(id), C(name), C(warning), C(result), C(reason)); in
    check mode per item would be repaired (C(id), C(name), C(actions)). Empty when
    nothing was to do. Read it as C(result['items']).
  returned: success
  type: list
  elements: dict
not_found:
  description: The IDs of I(ids) the scan did not find (nothing to repair there).
  returned: success
  type: list
  elements: int
rc:
  description: The exit code of the last corvane-cli run.
  returned: always
  type: int
data:
  description: The JSON of the last corvane-cli run (the repair, the dry run, or the scan).
  returned: success
  type: dict
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.corvane.wine.plugins.module_utils.corvane import (
    COMMON_OPTIONS, done, run_cli, scan)


def chosen(found, ids, level):
    """The items found to repair: those of `ids` in their order, or those at `level` up."""
    if ids is not None:
        by_id = dict((item['id'], item) for item in found)
        return [by_id[i] for i in ids if i in by_id]
    return [item for item in found if item['level'] >= level]


def diffs(preview):
    result = []
    for item in preview['items']:
        for action in item['actions']:
            header = '%s %s: %s %s' % (item['id'], item['name'], action['action'], action['target'])
            result.append(dict(before_header=header, after_header=header,
                               before=action['before'] + '\n', after=action['after'] + '\n'))
    return result


def main():
    module = AnsibleModule(
        argument_spec=dict(COMMON_OPTIONS,
                           ids=dict(type='list', elements='int'),
                           level=dict(type='int', choices=[0, 1, 2, 3, 4]),
                           stop_wine=dict(type='bool', default=False)),
        mutually_exclusive=[('ids', 'level')],
        required_one_of=[('ids', 'level')],
        supports_check_mode=True)
    params = module.params
    extra = []
    if params['stop_wine']:
        usage = run_cli(module, 'repair', ['--help'], prefix=False, library=False,
                            json_output=False)[1]
        if '--stop-wine' not in usage:
            module.fail_json(msg='stop_wine: this corvane-cli cannot end Wine (its repair has no '
                             '--stop-wine); end the Wine programs of the prefix (wineserver -k) '
                             'and run again without stop_wine')
        extra.append('--stop-wine')

    rc, found = scan(module)
    todo = chosen(found['items'], params['ids'], params['level'])
    ids = [item['id'] for item in todo]
    not_found = [i for i in params['ids'] or [] if i not in [f['id'] for f in found['items']]]
    if not todo:
        done(module, changed=False, rc=rc, items=[], not_found=not_found, data=found)

    result = dict(changed=True, not_found=not_found)
    if module.check_mode or module._diff:
        rc, preview = run_cli(module, 'repair', ['--dry-run'] + ids)
        if module._diff:
            result['diff'] = diffs(preview)
        if module.check_mode:
            done(module, rc=rc, items=preview['items'], data=preview, **result)
    rc, repaired = run_cli(module, 'repair', extra + ids)
    done(module, rc=rc, items=repaired['items'], data=repaired, **result)


if __name__ == '__main__':
    main()
