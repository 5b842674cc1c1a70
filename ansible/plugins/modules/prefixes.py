# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: prefixes
short_description: List the Wine prefixes of the user
description:
  - Runs C(corvane-cli prefixes --json) as the user it runs as and returns the Wine
    prefixes it finds ($WINEPREFIX, ~/.wine, winetricks', Steam's, Bottles', Lutris'
    and PlayOnLinux's).
  - Never changes anything.
version_added: 1.0.0
author: Corvane maintainers
options:
  executable:
    description: The C(corvane-cli) to run; default the one on C(PATH).
    type: path
notes:
  - Run it as the user whose prefixes they are (C(become_user)).
'''

EXAMPLES = r'''
- name: The prefixes of alice
  corvane.wine.prefixes:
  become: true
  become_user: alice
  register: found
'''

RETURN = r'''
prefixes:
  description: The prefixes, each with C(label), C(path) and C(source).
  returned: success
  type: list
  elements: dict
rc:
  description: The exit code of corvane-cli.
  returned: always
  type: int
data:
  description: The JSON corvane-cli printed.
  returned: success
  type: dict
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.corvane.wine.plugins.module_utils.corvane import done, run_cli


def main():
    module = AnsibleModule(argument_spec=dict(executable=dict(type='path')),
                           supports_check_mode=True)
    rc, data = run_cli(module, 'prefixes', prefix=False, library=False)
    done(module, changed=False, rc=rc, prefixes=data['prefixes'], data=data)


if __name__ == '__main__':
    main()
