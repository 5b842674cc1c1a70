# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: scan
short_description: Find the items of Corvane's rule library in a Wine prefix
description:
  - Runs C(corvane-cli scan --json) on one prefix, or with I(all) on every prefix of the
    user, and returns the items found. Never changes anything.
  - Finding items is not a failure; an error of corvane-cli is, with its message and
    exit code.
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
  all:
    description: Scan every prefix of the user (see M(corvane.wine.prefixes)) instead of I(prefix).
    type: bool
    default: false
notes:
  - Run it as the user whose prefix it is (C(become_user)).
'''

EXAMPLES = r'''
- name: Scan ~/.wine of alice
  corvane.wine.scan:
  become: true
  become_user: alice
  register: scan
- name: How many
  ansible.builtin.debug:
    msg: "{{ scan['items'] | length }} found"
'''

RETURN = r'''
items:
  description: The items found in the prefix (read it as C(result['items'])), each with
    C(id), C(name), C(description), C(level) (0 to 4), C(levelName) and C(matched).
  returned: success, without all
  type: list
  elements: dict
prefixes:
  description: With I(all), each prefix with C(label), C(path), C(source) and its
    C(items) (or C(error)).
  returned: success, with all
  type: list
  elements: dict
rc:
  description: The exit code of corvane-cli (0 nothing found, 1 items found).
  returned: always
  type: int
data:
  description: The JSON corvane-cli printed.
  returned: success
  type: dict
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.corvane.wine.plugins.module_utils.corvane import (
    COMMON_OPTIONS, done, run_cli)


def main():
    module = AnsibleModule(argument_spec=dict(COMMON_OPTIONS, all=dict(type='bool', default=False)),
                           supports_check_mode=True)
    if module.params['all']:
        # corvane-cli itself refuses --all with --prefix.
        rc, data = run_cli(module, 'scan', ['--all'], ok=(0, 1))
        done(module, changed=False, rc=rc, prefixes=data['prefixes'], data=data)
    rc, data = run_cli(module, 'scan', ok=(0, 1))
    done(module, changed=False, rc=rc, items=data['items'], data=data)


if __name__ == '__main__':
    main()
